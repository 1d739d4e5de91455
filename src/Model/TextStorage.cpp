#include "Model/TextStorage.hpp"

#include <cassert>
#include <utility>

#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Text/Utf8.hpp"

namespace larkspin {

std::string& TextStorage::editable() {
    // Only this thread makes new owners; an owner elsewhere may only let go,
    // which at worst costs a copy that was not needed.
    if (text_.use_count() > 1) text_ = std::make_shared<std::string>(*text_);
    return *text_;
}

std::size_t TextStorage::byteOffset(std::int64_t target) {
    // Walk from the nearest known position: the start, the hint or the end.
    std::int64_t character = 0;
    std::size_t byte = 0;
    const std::int64_t fromHint = target > hintCharacter_ ? target - hintCharacter_ : hintCharacter_ - target;
    if (fromHint < target && fromHint < length_ - target) {
        character = hintCharacter_;
        byte = hintByte_;
    } else if (length_ - target < target) {
        character = length_;
        byte = text_->size();
    }
    const auto* data = reinterpret_cast<const unsigned char*>(text_->data());
    while (character < target) {
        ++byte;
        while (byte < text_->size() && (data[byte] & 0xC0) == 0x80) ++byte;
        ++character;
    }
    while (character > target) {
        --byte;
        while (byte > 0 && (data[byte] & 0xC0) == 0x80) --byte;
        --character;
    }
    hintCharacter_ = character;
    hintByte_ = byte;
    return byte;
}

bool TextStorage::replaceCharacters(TextRange range, std::string_view replacement) {
    if (range.location < 0 || range.length < 0 || range.location > length_ ||
        range.length > length_ - range.location) {
        return false;
    }
    if (!utf8::isValid(replacement)) return false;
    const std::size_t start = byteOffset(range.location);
    const std::size_t end = byteOffset(range.location + range.length);
    const std::int64_t inserted = utf8::countCharacters(replacement);
    editable().replace(start, end - start, replacement);
    length_ += inserted - range.length;
    // Everything before the edit keeps its offsets.
    hintCharacter_ = range.location;
    hintByte_ = start;
    if (observer_) observer_(*this, Edit{range, inserted - range.length});
    return true;
}

bool TextStorage::replaceAll(std::string text) {
    if (!utf8::isValid(text)) return false;
    const std::int64_t length = utf8::countCharacters(text);
    replaced(std::move(text), length);
    return true;
}

void TextStorage::adoptChecked(std::string text, std::int64_t length) {
    assert(utf8::isValid(text) && utf8::countCharacters(text) == length);
    replaced(std::move(text), length);
}

void TextStorage::replaced(std::string text, std::int64_t length) {
    const TextRange old{0, length_};
    auto previous = std::exchange(text_, std::make_shared<std::string>(std::move(text)));
    // A whole document's text is freed on a worker.
    if (previous->size() > 64 * 1024) releaseOnWorker(std::move(previous));
    length_ = length;
    hintCharacter_ = 0;
    hintByte_ = 0;
    if (observer_) observer_(*this, Edit{old, length_ - old.length});
}

}  // namespace larkspin
