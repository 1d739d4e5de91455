#include "Model/DocumentTextEncoding.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#include "Platform/Localization.hpp"
#include "Platform/Files/MemoryAdvice.hpp"
#include "Platform/Text/Utf8.hpp"

namespace larkspin {

std::string_view rawValue(DocumentTextEncoding encoding) {
    switch (encoding) {
        case DocumentTextEncoding::utf8:
            return "utf8";
        case DocumentTextEncoding::utf8BOM:
            return "utf8-bom";
        case DocumentTextEncoding::utf16LE:
            return "utf16le";
        case DocumentTextEncoding::utf16BE:
            return "utf16be";
        case DocumentTextEncoding::latin1:
            return "latin1";
    }
    return "utf8";
}

std::optional<DocumentTextEncoding> documentTextEncodingFromRaw(std::string_view raw) {
    for (const auto encoding : allDocumentTextEncodings) {
        if (rawValue(encoding) == raw) return encoding;
    }
    return std::nullopt;
}

namespace TextEncodingPolicy {

namespace {

constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view utf16LEMark = "\xFF\xFE";
constexpr std::string_view utf16BEMark = "\xFE\xFF";

constexpr bool littleEndianHost = std::endian::native == std::endian::little;

std::uint64_t load64(const unsigned char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Strict UTF-16 (BOM already removed) to UTF-8. Fails on an unpaired
// surrogate or an odd byte; with `allowPartial` a trailing odd byte or a
// trailing high surrogate (a pair cut at the end) is dropped instead.
std::optional<std::string> utf16ToUtf8(std::string_view body, bool bigEndian, bool allowPartial) {
    std::size_t byteCount = body.size();
    if (byteCount % 2 != 0) {
        if (!allowPartial) return std::nullopt;
        --byteCount;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(body.data());
    const std::size_t units = byteCount / 2;
    const auto unitAt = [&](std::size_t i) -> std::uint32_t {
        const std::uint32_t a = in[2 * i], b = in[2 * i + 1];
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    // Each unit gives at most three bytes (a pair of two gives four).
    const std::uint64_t asciiMask = bigEndian ? 0x80FF80FF80FF80FFULL : 0xFF80FF80FF80FF80ULL;
    const int shift = bigEndian ? 8 : 0;
    bool failed = false;
    std::string out;
    out.resize_and_overwrite(units * 3, [&](char* o, std::size_t capacity) {
        MemoryAdvice::adviseHugePages(o, capacity);
        char* const start = o;
        std::size_t i = 0;
        while (i < units) {
            if constexpr (littleEndianHost) {
                // Four ASCII units at a time.
                while (i + 4 <= units) {
                    const std::uint64_t word = load64(in + 2 * i);
                    if (word & asciiMask) break;
                    o[0] = static_cast<char>(word >> shift);
                    o[1] = static_cast<char>(word >> (16 + shift));
                    o[2] = static_cast<char>(word >> (32 + shift));
                    o[3] = static_cast<char>(word >> (48 + shift));
                    o += 4;
                    i += 4;
                }
                if (i >= units) break;
            }
            std::uint32_t c = unitAt(i++);
            if (c < 0x80) {
                *o++ = static_cast<char>(c);
                continue;
            }
            if (c < 0x800) {
                *o++ = static_cast<char>(0xC0 | (c >> 6));
                *o++ = static_cast<char>(0x80 | (c & 0x3F));
                continue;
            }
            if (c >= 0xD800 && c <= 0xDFFF) {
                if (c >= 0xDC00) {
                    failed = true;
                    break;
                }
                if (i >= units) {
                    failed = !allowPartial;
                    break;
                }
                const std::uint32_t low = unitAt(i);
                if (low < 0xDC00 || low > 0xDFFF) {
                    failed = true;
                    break;
                }
                ++i;
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                *o++ = static_cast<char>(0xF0 | (c >> 18));
                *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                *o++ = static_cast<char>(0x80 | (c & 0x3F));
                continue;
            }
            *o++ = static_cast<char>(0xE0 | (c >> 12));
            *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (c & 0x3F));
        }
        return failed ? 0 : static_cast<std::size_t>(o - start);
    });
    if (failed) return std::nullopt;
    return out;
}

// Valid UTF-8 to UTF-16 with the mark in front.
std::string utf8ToUtf16(std::string_view text, bool bigEndian) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    const std::string_view mark = bigEndian ? utf16BEMark : utf16LEMark;
    std::string out;
    // Every UTF-8 byte gives at most one UTF-16 unit.
    out.resize_and_overwrite(mark.size() + 2 * n, [&](char* o, std::size_t) {
        char* const start = o;
        std::memcpy(o, mark.data(), mark.size());
        o += mark.size();
        const auto put = [&](std::uint32_t unit) {
            const char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
            *o++ = bigEndian ? hi : lo;
            *o++ = bigEndian ? lo : hi;
        };
        std::size_t i = 0;
        while (i < n) {
            if constexpr (littleEndianHost) {
                while (i + 8 <= n) {
                    const std::uint64_t word = load64(in + i);
                    if (word & 0x8080808080808080ULL) break;
                    for (int k = 0; k < 8; ++k) {
                        const char c = static_cast<char>(word >> (8 * k));
                        *o++ = bigEndian ? '\0' : c;
                        *o++ = bigEndian ? c : '\0';
                    }
                    i += 8;
                }
                if (i >= n) break;
            }
            const std::uint32_t c = in[i];
            if (c < 0x80) {
                put(c);
                i += 1;
            } else if (c < 0xE0) {
                put((c & 0x1F) << 6 | (in[i + 1] & 0x3F));
                i += 2;
            } else if (c < 0xF0) {
                put((c & 0x0F) << 12 | (in[i + 1] & 0x3F) << 6 | (in[i + 2] & 0x3F));
                i += 3;
            } else {
                const std::uint32_t scalar = (c & 0x07) << 18 | (in[i + 1] & 0x3F) << 12 |
                                             (in[i + 2] & 0x3F) << 6 | (in[i + 3] & 0x3F);
                put(0xD800 + ((scalar - 0x10000) >> 10));
                put(0xDC00 + ((scalar - 0x10000) & 0x3FF));
                i += 4;
            }
        }
        return static_cast<std::size_t>(o - start);
    });
    return out;
}

// Latin-1: every byte is the code point of the same number.
std::string latin1ToUtf8(std::string_view bytes) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::string out;
    out.resize_and_overwrite(2 * n, [&](char* o, std::size_t capacity) {
        MemoryAdvice::adviseHugePages(o, capacity);
        char* const start = o;
        std::size_t i = 0;
        while (i < n) {
            while (i + 8 <= n && !(load64(in + i) & 0x8080808080808080ULL)) {
                std::memcpy(o, in + i, 8);
                o += 8;
                i += 8;
            }
            if (i >= n) break;
            const unsigned char c = in[i++];
            if (c < 0x80) {
                *o++ = static_cast<char>(c);
            } else {
                *o++ = static_cast<char>(0xC0 | (c >> 6));
                *o++ = static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return static_cast<std::size_t>(o - start);
    });
    return out;
}

Decoded utf8Result(std::string bytes, std::size_t markLength) {
    if (markLength > 0) bytes.erase(0, markLength);
    return {std::move(bytes),
            markLength > 0 ? DocumentTextEncoding::utf8BOM : DocumentTextEncoding::utf8};
}

}  // namespace

Decoded decode(std::string bytes, bool allowPartial) {
    const std::string_view all(bytes);
    if (all.starts_with(utf16LEMark)) {
        if (auto text = utf16ToUtf8(all.substr(2), false, allowPartial)) {
            return {std::move(*text), DocumentTextEncoding::utf16LE};
        }
    }
    if (all.starts_with(utf16BEMark)) {
        if (auto text = utf16ToUtf8(all.substr(2), true, allowPartial)) {
            return {std::move(*text), DocumentTextEncoding::utf16BE};
        }
    }
    const std::size_t markLength = all.starts_with(utf8Mark) ? utf8Mark.size() : 0;
    const std::string_view body = all.substr(markLength);
    const std::size_t valid = utf8::validPrefixLength(body);
    if (valid == body.size()) return utf8Result(std::move(bytes), markLength);
    // A partial prefix may lose its last one to three bytes: the first of
    // "all but 1, 2, 3 bytes" that is valid. Trying the longest first, the
    // first valid one is the longest valid prefix itself, so this is exactly
    // the case where at most three bytes follow that prefix.
    if (allowPartial && body.size() - valid <= 3) {
        bytes.resize(markLength + valid);
        return utf8Result(std::move(bytes), markLength);
    }
    return {latin1ToUtf8(all), DocumentTextEncoding::latin1};
}

Decoded decodeValidUtf8(std::string bytes) {
    const std::size_t markLength =
        std::string_view(bytes).starts_with(utf8Mark) ? utf8Mark.size() : 0;
    return utf8Result(std::move(bytes), markLength);
}

std::optional<std::string> encode(DocumentTextEncoding encoding, std::string_view text) {
    switch (encoding) {
        case DocumentTextEncoding::utf8:
            return std::string(text);
        case DocumentTextEncoding::utf8BOM: {
            std::string out;
            out.reserve(utf8Mark.size() + text.size());
            out.append(utf8Mark).append(text);
            return out;
        }
        case DocumentTextEncoding::utf16LE:
        case DocumentTextEncoding::utf16BE:
            if (!utf8::isValid(text)) return std::nullopt;
            return utf8ToUtf16(text, encoding == DocumentTextEncoding::utf16BE);
        case DocumentTextEncoding::latin1:
            return std::nullopt;
    }
    return std::nullopt;
}

std::string_view bom(DocumentTextEncoding encoding) {
    switch (encoding) {
        case DocumentTextEncoding::utf8BOM:
            return utf8Mark;
        case DocumentTextEncoding::utf16LE:
            return utf16LEMark;
        case DocumentTextEncoding::utf16BE:
            return utf16BEMark;
        case DocumentTextEncoding::utf8:
        case DocumentTextEncoding::latin1:
            return {};
    }
    return {};
}

bool isLossless(DocumentTextEncoding encoding) {
    return encoding != DocumentTextEncoding::latin1;
}

std::optional<std::string> notice(DocumentTextEncoding encoding) {
    switch (encoding) {
        case DocumentTextEncoding::utf16LE:
        case DocumentTextEncoding::utf16BE:
            return L10n::text("encoding.utf16");
        case DocumentTextEncoding::latin1:
            return L10n::text("encoding.latin1");
        case DocumentTextEncoding::utf8:
        case DocumentTextEncoding::utf8BOM:
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace TextEncodingPolicy

}  // namespace larkspin
