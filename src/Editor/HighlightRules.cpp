#include "Editor/HighlightRules.hpp"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdlib>
#include <memory>

#include "Platform/Log.hpp"
#include "Platform/Text/Utf8.hpp"

namespace larkspin {
namespace {

// One compiled pattern (UTF and Unicode properties, JIT where the system has
// it), compiled once on first use. The patterns are fixed, so one that fails
// to compile is a programming error and stops the program.
class Pattern {
public:
    explicit Pattern(const char* source) {
        int error = 0;
        PCRE2_SIZE offset = 0;
        code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source), PCRE2_ZERO_TERMINATED,
                              PCRE2_UTF | PCRE2_UCP | PCRE2_NO_UTF_CHECK, &error, &offset, nullptr);
        if (code_ == nullptr) {
            AppLog::editor.fault("高亮正则无法编译：%{public}s", source);
            std::abort();
        }
        pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);  // falls back to the interpreter
        data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
    }
    ~Pattern() {
        pcre2_match_data_free(data_);
        pcre2_code_free(code_);
    }
    Pattern(const Pattern&) = delete;
    Pattern& operator=(const Pattern&) = delete;

    // The first match in `subject` at or after `start`: true and the group
    // offsets in `ovector()`.
    bool match(std::string_view subject, std::size_t start) {
        const int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject.data()),
                                   subject.size(), start, PCRE2_NO_UTF_CHECK, data_, nullptr);
        return rc > 0;
    }
    std::size_t begin(int group) const { return pcre2_get_ovector_pointer(data_)[2 * group]; }
    std::size_t end(int group) const { return pcre2_get_ovector_pointer(data_)[2 * group + 1]; }
    bool groupSet(int group) const { return begin(group) != PCRE2_UNSET; }

private:
    pcre2_code* code_ = nullptr;
    pcre2_match_data* data_ = nullptr;
};

// Main thread only, like the highlighter: the match data are shared.
Pattern& headingPattern() {
    static Pattern p(R"(^ {0,3}#{1,6}(?=\s|$))");
    return p;
}
Pattern& quotePattern() {
    static Pattern p(R"(^ {0,3}>)");
    return p;
}
Pattern& listPattern() {
    static Pattern p(R"(^\s{0,3}(?:[-*+]|\d{1,9}[.)])(?=\s))");
    return p;
}
Pattern& inlineCodePattern() {
    static Pattern p(R"(`+[^`\n]+?`+)");
    return p;
}
Pattern& strongPattern() {
    static Pattern p(R"((\*\*|__)(?=\S)(?:.+?)(?<=\S)\1)");
    return p;
}
Pattern& emphasisPattern() {
    static Pattern p(R"((?<![*_])([*_])(?![*_\s])(?:[^*_\n]+?)(?<!\s)\1(?![*_]))");
    return p;
}
Pattern& linkPattern() {
    static Pattern p(R"(!?\[([^\]\n]*)\]\(([^)\n]*)\))");
    return p;
}

// Every match of `pattern` over line[from, end), with each match found anew
// from the end of the last (an empty match steps one byte on).
template <typename OnMatch>
void eachMatch(Pattern& pattern, std::string_view line, std::size_t from, OnMatch onMatch) {
    std::size_t at = from;
    while (at <= line.size() && pattern.match(line, at)) {
        onMatch(pattern);
        const std::size_t end = pattern.end(0);
        if (end > at) {
            at = end;
        } else {
            // An empty match: step over one whole character.
            at = end + 1;
            while (at < line.size() && (static_cast<unsigned char>(line[at]) & 0xC0) == 0x80) ++at;
        }
    }
}

}  // namespace

namespace HighlightRules {

bool isFenceLine(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && i < 3 && line[i] == ' ') ++i;
    if (i >= line.size() || (line[i] != '`' && line[i] != '~')) return false;
    const char mark = line[i];
    std::size_t run = 0;
    while (i < line.size() && line[i] == mark) {
        ++i;
        ++run;
    }
    return run >= 3;
}

std::vector<LineSpan> lineSpans(std::string_view line) {
    std::vector<LineSpan> spans;
    if (line.empty() || !utf8::isValid(line)) return spans;

    if (headingPattern().match(line, 0) && headingPattern().begin(0) == 0) {
        spans.push_back({HighlightRole::heading, 0, line.size()});
        return spans;
    }
    std::size_t rest = 0;
    if (quotePattern().match(line, 0) && quotePattern().begin(0) == 0) {
        spans.push_back({HighlightRole::quote, 0, line.size()});
        rest = quotePattern().end(0);
        spans.push_back({HighlightRole::quoteMarker, 0, rest});
    } else if (listPattern().match(line, 0) && listPattern().begin(0) == 0) {
        rest = listPattern().end(0);
        spans.push_back({HighlightRole::listMarker, 0, rest});
    }
    if (rest >= line.size()) return spans;

    // The inline patterns look behind only within the rest of the line.
    const std::string_view tail = line.substr(rest);
    eachMatch(strongPattern(), tail, 0, [&](Pattern& p) {
        spans.push_back({HighlightRole::strong, rest + p.begin(0), rest + p.end(0)});
    });
    eachMatch(emphasisPattern(), tail, 0, [&](Pattern& p) {
        spans.push_back({HighlightRole::emphasis, rest + p.begin(0), rest + p.end(0)});
    });
    eachMatch(linkPattern(), tail, 0, [&](Pattern& p) {
        spans.push_back({HighlightRole::link, rest + p.begin(0), rest + p.end(0)});
        if (p.groupSet(2) && p.end(2) > p.begin(2)) {
            spans.push_back({HighlightRole::linkDestination, rest + p.begin(2), rest + p.end(2)});
        }
    });
    eachMatch(inlineCodePattern(), tail, 0, [&](Pattern& p) {
        spans.push_back({HighlightRole::inlineCode, rest + p.begin(0), rest + p.end(0)});
    });
    return spans;
}

}  // namespace HighlightRules

}  // namespace larkspin
