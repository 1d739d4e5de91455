#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace larkspin {

// A range of characters (Unicode scalar values), as GtkTextBuffer counts them.
struct TextRange {
    std::int64_t location = 0;
    std::int64_t length = 0;
    bool operator==(const TextRange&) const = default;
};

// The text of a document, held as UTF-8 and independent of any toolkit.
// Offsets are characters; the storage converts them to byte offsets, keeping
// the last position it found so that edits near each other (typing) do not
// rescan the text. Text may hold U+0000. The text is held once: `shared()`
// hands it out (to the reader) without a copy, and the first edit after that
// copies it rather than change what was handed out. Main thread.
class TextStorage {
public:
    struct Edit {
        TextRange replacedRange;     // the range that was replaced, in the old text
        std::int64_t changeInLength;  // characters added minus characters removed
    };
    using EditObserver = std::function<void(TextStorage&, const Edit&)>;

    const std::string& string() const { return *text_; }
    std::int64_t length() const { return length_; }
    // The text as it is now, shared: an edit never changes it.
    std::shared_ptr<const std::string> shared() const { return text_; }

    // Replaces a range of characters. Refuses (returns false, nothing changes)
    // a range outside the text or a replacement that is not valid UTF-8.
    bool replaceCharacters(TextRange range, std::string_view replacement);
    // Replaces the whole text; refuses text that is not valid UTF-8.
    bool replaceAll(std::string text);
    // Replaces the whole text with one known to be valid UTF-8 of `length`
    // characters (a loader's), taken without a copy or another look at it.
    void adoptChecked(std::string text, std::int64_t length);

    // Called after every edit of the characters.
    void setEditObserver(EditObserver observer) { observer_ = std::move(observer); }

private:
    std::size_t byteOffset(std::int64_t characterOffset);
    // The text to edit in place: copied first when it was handed out.
    std::string& editable();
    void replaced(std::string text, std::int64_t length);

    std::shared_ptr<std::string> text_ = std::make_shared<std::string>();
    std::int64_t length_ = 0;
    // A known (character, byte) position in the current text.
    std::int64_t hintCharacter_ = 0;
    std::size_t hintByte_ = 0;
    EditObserver observer_;
};

}  // namespace larkspin
