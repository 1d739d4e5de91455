#include "Updates/Version.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace larkspin::Version {

namespace {

struct Segment {
    bool numeric = true;
    std::string text;  // digits without leading zeros, or letters
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::vector<Segment> split(std::string_view version) {
    std::vector<Segment> segments;
    std::size_t at = 0;
    while (at < version.size()) {
        const char c = version[at];
        if (isDigit(c)) {
            std::size_t end = at;
            while (end < version.size() && isDigit(version[end])) ++end;
            std::string_view digits = version.substr(at, end - at);
            while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
            segments.push_back({true, std::string(digits)});
            at = end;
        } else if (isLetter(c)) {
            std::size_t end = at;
            while (end < version.size() && isLetter(version[end])) ++end;
            segments.push_back({false, std::string(version.substr(at, end - at))});
            at = end;
        } else {
            ++at;  // a separator
        }
    }
    return segments;
}

// Digits of any length compare as numbers: the longer run (without leading
// zeros) is the larger, equal lengths compare digit by digit.
std::strong_ordering compareNumbers(const std::string& left, const std::string& right) {
    if (left.size() != right.size()) return left.size() <=> right.size();
    const int order = left.compare(right);
    return order <=> 0;
}

}  // namespace

std::strong_ordering compare(std::string_view left, std::string_view right) {
    const auto a = split(left);
    const auto b = split(right);
    const Segment zero{true, "0"};
    for (std::size_t index = 0; index < a.size() || index < b.size(); ++index) {
        const Segment& x = index < a.size() ? a[index] : zero;
        const Segment& y = index < b.size() ? b[index] : zero;
        if (x.numeric && y.numeric) {
            if (auto order = compareNumbers(x.text, y.text); order != 0) return order;
        } else if (!x.numeric && !y.numeric) {
            if (const int order = x.text.compare(y.text); order != 0) return order <=> 0;
        } else {
            // Letters against a number (or nothing): the pre-release is older.
            return x.numeric ? std::strong_ordering::greater : std::strong_ordering::less;
        }
    }
    return std::strong_ordering::equal;
}

}  // namespace larkspin::Version
