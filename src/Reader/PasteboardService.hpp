#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace larkspin {

// The one writer of copied text to the clipboard; every copy is logged on
// the "actions" category. Main thread.
class PasteboardService {
public:
    // What the service needs of a clipboard: the seam that lets tests run
    // without a display.
    class Pasteboard {
    public:
        virtual ~Pasteboard() = default;
        virtual void clearContents() = 0;
        // Offers `text` as the clipboard's plain text; false when the
        // clipboard did not take it.
        virtual bool setString(const std::string& text) = 0;
    };

    explicit PasteboardService(std::shared_ptr<Pasteboard> pasteboard);

    // The default display's clipboard (GdkClipboard, Widgets/DisplayPasteboard).
    // Without a display every write to it returns false.
    static std::shared_ptr<Pasteboard> displayClipboard();

    // Clears the clipboard, offers `text` and returns whether the clipboard
    // took it; logs the kind and the number of user-perceived characters.
    // Copies are plain strings: a text is cut at its first U+0000.
    bool write(std::string_view text, std::string_view kind) const;

    // User-perceived characters (extended grapheme clusters) of UTF-8 text.
    static std::int64_t characterCount(std::string_view text);

private:
    std::shared_ptr<Pasteboard> pasteboard_;
};

}  // namespace larkspin
