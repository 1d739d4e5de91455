#include "Model/LineEnding.hpp"

#include <algorithm>
#include <cstring>

namespace larkspin {

std::string_view rawValue(LineEnding lineEnding) {
    switch (lineEnding) {
        case LineEnding::lf:
            return "lf";
        case LineEnding::crlf:
            return "crlf";
        case LineEnding::mixed:
            return "mixed";
    }
    return "lf";
}

std::optional<LineEnding> lineEndingFromRaw(std::string_view raw) {
    for (const auto lineEnding : {LineEnding::lf, LineEnding::crlf, LineEnding::mixed}) {
        if (rawValue(lineEnding) == raw) return lineEnding;
    }
    return std::nullopt;
}

namespace LineEndingPolicy {

namespace {

// Sixteen bytes as one vector (SSE2 on x86-64, NEON on ARM, through GCC's
// vector extensions). A comparison gives all bits set (0xFF) in every lane
// that matches; subtracting that from an unsigned lane counts one.
using Bytes16 = unsigned char __attribute__((vector_size(16)));

Bytes16 load16(const char* p) {
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

Bytes16 matches(Bytes16 v, unsigned char byte) {
    return reinterpret_cast<Bytes16>(v == byte);
}

std::int64_t laneSum(Bytes16 counters) {
    std::int64_t sum = 0;
    for (int i = 0; i < 16; ++i) sum += counters[i];
    return sum;
}

// Totals of one piece: every LF, every CR, and every LF whose previous byte
// (possibly the one before the piece) is a CR.
struct Tally {
    std::int64_t lf = 0, cr = 0, pairs = 0;
};

Tally tally(std::string_view piece, bool previousIsCR) {
    Tally t;
    const char* p = piece.data();
    const std::size_t n = piece.size();
    if (n == 0) return t;
    // The first byte on its own, so that the loop can always look one back.
    t.lf += p[0] == '\n';
    t.cr += p[0] == '\r';
    t.pairs += p[0] == '\n' && previousIsCR;
    std::size_t i = 1;
    while (i + 16 <= n) {
        // Lane counters hold at most 255 before they are summed.
        Bytes16 lfCount = {}, crCount = {}, pairCount = {};
        const std::size_t blocks = std::min<std::size_t>((n - i) / 16, 255);
        for (std::size_t b = 0; b < blocks; ++b, i += 16) {
            const Bytes16 current = load16(p + i);
            const Bytes16 previous = load16(p + i - 1);
            const Bytes16 isLF = matches(current, '\n');
            lfCount -= isLF;
            crCount -= matches(current, '\r');
            pairCount -= isLF & matches(previous, '\r');
        }
        t.lf += laneSum(lfCount);
        t.cr += laneSum(crCount);
        t.pairs += laneSum(pairCount);
    }
    for (; i < n; ++i) {
        t.lf += p[i] == '\n';
        t.cr += p[i] == '\r';
        t.pairs += p[i] == '\n' && p[i - 1] == '\r';
    }
    return t;
}

}  // namespace

LineEnding Counts::style() const {
    const int kinds = (crlf > 0) + (lf > 0) + (cr > 0);
    if (kinds == 0) return LineEnding::lf;
    if (kinds > 1) return LineEnding::mixed;
    if (crlf > 0) return LineEnding::crlf;
    if (lf > 0) return LineEnding::lf;
    return LineEnding::mixed;
}

void accumulate(Counts& counts, std::string_view piece, bool previousIsCR) {
    const Tally t = tally(piece, previousIsCR);
    counts.crlf += t.pairs;
    counts.lf += t.lf - t.pairs;
    counts.cr += t.cr - t.pairs;
}

Counts count(std::string_view text) {
    Counts counts;
    accumulate(counts, text, false);
    return counts;
}

LineEnding detect(std::string_view text) {
    return count(text).style();
}

std::string normalizeForSave(std::string_view text, LineEnding style) {
    if (style != LineEnding::crlf) return std::string(text);
    const Counts counts = count(text);
    if (counts.lf == 0) return std::string(text);
    std::string out;
    out.reserve(text.size() + static_cast<std::size_t>(counts.lf));
    std::size_t start = 0;
    while (start < text.size()) {
        const void* found = std::memchr(text.data() + start, '\n', text.size() - start);
        if (found == nullptr) break;
        const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
        out.append(text.substr(start, at - start));
        if (at == 0 || text[at - 1] != '\r') out.push_back('\r');
        out.push_back('\n');
        start = at + 1;
    }
    out.append(text.substr(start));
    return out;
}

}  // namespace LineEndingPolicy

}  // namespace larkspin
