#include "Platform/Text/PhraseBreaks.hpp"

#include <glib.h>

namespace larkspin::PhraseBreaks {

namespace {

bool isIdeograph(gunichar c) {
    return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0x20000 && c <= 0x3134F);
}

// A phrase ends after these.
bool endsPhrase(gunichar c) {
    switch (c) {
        case 0x3002:  // 。
        case 0xFF0C:  // ，
        case 0xFF1F:  // ？
        case 0xFF01:  // ！
        case 0xFF1B:  // ；
        case 0xFF1A:  // ：
        case 0x3001:  // 、
            return true;
        default:
            return false;
    }
}

// Quotations and brackets stand apart from the phrases around them.
bool opensQuote(gunichar c) {
    return c == 0x201C || c == 0x2018 || c == 0x300C || c == 0x300E || c == 0xFF08 || c == 0x300A;
}
bool closesQuote(gunichar c) {
    return c == 0x201D || c == 0x2019 || c == 0x300D || c == 0x300F || c == 0xFF09 || c == 0x300B;
}

}  // namespace

std::vector<Run> keptTogether(std::string_view text, std::size_t longest) {
    std::vector<Run> runs;
    std::size_t begin = 0;
    std::size_t characters = 0;
    bool phrase = true;  // only ideographs and phrase ends so far
    const auto close = [&](std::size_t end) {
        if (phrase && characters > 1 && characters <= longest) runs.push_back({begin, end});
        begin = end;
        characters = 0;
        phrase = true;
    };
    std::size_t at = 0;
    bool quoted = false;
    while (at < text.size()) {
        const gunichar c = g_utf8_get_char_validated(text.data() + at, static_cast<gssize>(text.size() - at));
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            close(at);
            ++at;
            begin = at;
            continue;
        }
        const std::size_t next = at + static_cast<std::size_t>(g_unichar_to_utf8(c, nullptr));
        if (opensQuote(c)) {
            close(at);
            quoted = true;
        }
        ++characters;
        if (quoted || !(isIdeograph(c) || endsPhrase(c))) phrase = false;
        if (closesQuote(c)) {
            quoted = false;
            close(next);
        } else if (endsPhrase(c) && !quoted) {
            close(next);
        }
        at = next;
    }
    close(text.size());
    return runs;
}

}  // namespace larkspin::PhraseBreaks
