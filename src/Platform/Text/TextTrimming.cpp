#include "Platform/Text/TextTrimming.hpp"

#include <glib.h>

namespace larkspin {

bool isWhitespaceOrNewline(char32_t c) {
    if (c == 0x0B || c == 0x85) return true;
    return g_unichar_isspace(static_cast<gunichar>(c));
}

std::string trimmedWhitespace(std::string_view text) {
    // Leading characters.
    std::size_t begin = 0;
    while (begin < text.size()) {
        const gunichar c = g_utf8_get_char_validated(text.data() + begin,
                                                     static_cast<gssize>(text.size() - begin));
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) break;
        if (c == 0 || !isWhitespaceOrNewline(c)) break;
        begin += static_cast<std::size_t>(g_utf8_skip[static_cast<unsigned char>(text[begin])]);
    }
    // Trailing characters: step back to the start of each UTF-8 sequence.
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        const gunichar c =
            g_utf8_get_char_validated(text.data() + start, static_cast<gssize>(end - start));
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) break;
        if (c == 0 || !isWhitespaceOrNewline(c)) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string asciiLowercased(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

}  // namespace larkspin
