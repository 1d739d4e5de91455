#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace larkspin {

// The encodings a document's file can have. Text inside the program is always
// UTF-8 in a std::string; so are file bytes (a std::string of raw bytes).
enum class DocumentTextEncoding { utf8, utf8BOM, utf16LE, utf16BE, latin1 };

inline constexpr std::array allDocumentTextEncodings = {
    DocumentTextEncoding::utf8, DocumentTextEncoding::utf8BOM, DocumentTextEncoding::utf16LE,
    DocumentTextEncoding::utf16BE, DocumentTextEncoding::latin1};

// "utf8", "utf8-bom", "utf16le", "utf16be", "latin1" — how drafts store and
// logs show an encoding.
std::string_view rawValue(DocumentTextEncoding encoding);
std::optional<DocumentTextEncoding> documentTextEncodingFromRaw(std::string_view raw);

namespace TextEncodingPolicy {

struct Decoded {
    std::string text;
    DocumentTextEncoding encoding = DocumentTextEncoding::utf8;
    bool operator==(const Decoded&) const = default;
};

// Turns a file's bytes into text; never fails. In order: a UTF-16 mark (FF FE,
// FE FF) whose body decodes strictly; strict UTF-8 after an optional EF BB BF
// mark; with `allowPartial`, UTF-8 whose last one to three bytes are dropped
// (a prefix cut inside a character); otherwise Latin-1 over every byte, marks
// included. With `allowPartial` a UTF-16 body cut inside a surrogate pair
// (or after an odd byte) drops that piece too, so that a UTF-16 preview does
// not turn into Latin-1. Valid UTF-8 is moved into the result, not copied.
Decoded decode(std::string bytes, bool allowPartial);

// For bytes already known to be valid UTF-8 (the loader checks while it
// reads): the text without its mark, moved into the result.
Decoded decodeValidUtf8(std::string bytes);

// The file's bytes for `text` (UTF-8) in `encoding`, mark included; nothing
// for Latin-1, and nothing for UTF-16 when `text` is not valid UTF-8.
std::optional<std::string> encode(DocumentTextEncoding encoding, std::string_view text);

// The byte-order mark written for `encoding` (empty for UTF-8 and Latin-1).
std::string_view bom(DocumentTextEncoding encoding);

// False only for Latin-1: such a document is never written back.
bool isLossless(DocumentTextEncoding encoding);

// The notice a document shows when opened in `encoding`, if any.
std::optional<std::string> notice(DocumentTextEncoding encoding);

}  // namespace TextEncodingPolicy

}  // namespace larkspin
