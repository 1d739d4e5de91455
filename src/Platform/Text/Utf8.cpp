#include "Platform/Text/Utf8.hpp"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define LARKSPIN_UTF8_AVX2 1
#endif

namespace larkspin::utf8 {

namespace {

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Byte by byte (with an ASCII fast path): the exact position of the first
// fault or cut sequence.
std::size_t scalarValidPrefixLength(const unsigned char* s, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        // ASCII fast path, eight bytes at a time.
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= n) break;
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t need;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
        } else if (c == 0xE0) {
            need = 2;
            lo = 0xA0;
        } else if (c == 0xED) {
            need = 2;
            hi = 0x9F;  // no surrogates
        } else if (c >= 0xE1 && c <= 0xEF) {
            need = 2;
        } else if (c == 0xF0) {
            need = 3;
            lo = 0x90;
        } else if (c >= 0xF1 && c <= 0xF3) {
            need = 3;
        } else if (c == 0xF4) {
            need = 3;
            hi = 0x8F;
        } else {
            return i;
        }
        if (i + need >= n) return i;
        if (s[i + 1] < lo || s[i + 1] > hi) return i;
        for (std::size_t k = 2; k <= need; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return i;
        }
        i += need + 1;
    }
    return n;
}

#if defined(LARKSPIN_UTF8_AVX2)
// 32 bytes per step with AVX2, after Keiser and Lemire, "Validating UTF-8 in
// less than one instruction per byte" (2021): three table lookups on the
// nibbles of each byte and of the byte before it classify every two-byte
// window; the lengths of three- and four-byte sequences are checked from the
// bytes two and three back. Stops at the first block that shows a fault, or
// before the last partial block, and returns a character boundary up to which
// the bytes are valid; the scalar code finds the exact position from there.
namespace avx2 {

constexpr std::uint8_t tooShort = 1 << 0;   // lead followed by a lead or ASCII
constexpr std::uint8_t tooLong = 1 << 1;    // ASCII followed by a continuation
constexpr std::uint8_t overlong3 = 1 << 2;  // E0 80..9F
constexpr std::uint8_t tooLarge = 1 << 3;   // F4 90..BF, F5..FF
constexpr std::uint8_t surrogate = 1 << 4;  // ED A0..BF
constexpr std::uint8_t overlong2 = 1 << 5;  // C0, C1
constexpr std::uint8_t tooLarge1000 = 1 << 6;
constexpr std::uint8_t overlong4 = 1 << 6;  // F0 80..8F
constexpr std::uint8_t twoConts = 1 << 7;   // continuation after continuation
constexpr std::uint8_t carry = tooShort | tooLong | twoConts;

// A 16-entry lookup table in both lanes, for _mm256_shuffle_epi8.
__attribute__((target("avx2"))) inline __m256i table(const std::uint8_t (&entries)[16]) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entries)));
}

// The bytes of `input` shifted by N positions, the gap filled from `previous`.
template <int N>
__attribute__((target("avx2"))) inline __m256i prev(__m256i input, __m256i previous) {
    return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(previous, input, 0x21), 16 - N);
}

__attribute__((target("avx2"))) inline __m256i highNibbles(__m256i v) {
    return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
}

struct Tables {
    __m256i byte1High, byte1Low, byte2High;
};

// The faults of one block given the block before it (zero when none).
__attribute__((target("avx2"))) inline __m256i blockError(const Tables& tables, __m256i input,
                                                          __m256i previous) {
    const __m256i prev1 = prev<1>(input, previous);
    const __m256i special = _mm256_and_si256(
        _mm256_and_si256(
            _mm256_shuffle_epi8(tables.byte1High, highNibbles(prev1)),
            _mm256_shuffle_epi8(tables.byte1Low, _mm256_and_si256(prev1, _mm256_set1_epi8(0x0F)))),
        _mm256_shuffle_epi8(tables.byte2High, highNibbles(input)));
    // A byte two or three after a lead of a three- or four-byte sequence
    // must be a continuation; `special` flags continuations, so the two
    // cancel out exactly when all is well.
    const __m256i third = _mm256_subs_epu8(prev<2>(input, previous),
                                           _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m256i fourth = _mm256_subs_epu8(prev<3>(input, previous),
                                            _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m256i must23 =
        _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
    return _mm256_xor_si256(must23, special);
}

__attribute__((target("avx2"))) std::size_t validatedPrefix(const unsigned char* s, std::size_t n) {
    const __m256i byte1High =
        table({tooLong, tooLong, tooLong, tooLong, tooLong, tooLong, tooLong, tooLong,  // 0_______
               twoConts, twoConts, twoConts, twoConts,                                  // 10______
               tooShort | overlong2,                                                    // 1100____
               tooShort,                                                                // 1101____
               tooShort | overlong3 | surrogate,                                        // 1110____
               tooShort | tooLarge | tooLarge1000 | overlong4});                        // 1111____
    const __m256i byte1Low =
        table({carry | overlong3 | overlong2 | overlong4,  // ____0000
               carry | overlong2,                          // ____0001
               carry, carry,                               // ____001_
               carry | tooLarge,                           // ____0100
               carry | tooLarge | tooLarge1000,            // ____0101
               carry | tooLarge | tooLarge1000, carry | tooLarge | tooLarge1000,
               carry | tooLarge | tooLarge1000, carry | tooLarge | tooLarge1000,
               carry | tooLarge | tooLarge1000, carry | tooLarge | tooLarge1000,
               carry | tooLarge | tooLarge1000,
               carry | tooLarge | tooLarge1000 | surrogate,  // ____1101
               carry | tooLarge | tooLarge1000, carry | tooLarge | tooLarge1000});
    const __m256i byte2High =
        table({tooShort, tooShort, tooShort, tooShort, tooShort, tooShort, tooShort,
               tooShort,                                                               // 0_______
               tooLong | overlong2 | twoConts | overlong3 | tooLarge1000 | overlong4,  // 1000____
               tooLong | overlong2 | twoConts | overlong3 | tooLarge,                  // 1001____
               tooLong | overlong2 | twoConts | surrogate | tooLarge,                  // 101_____
               tooLong | overlong2 | twoConts | surrogate | tooLarge, tooShort, tooShort, tooShort,
               tooShort});  // 11______
    // The last three bytes of a block may start a sequence that the block
    // does not finish.
    const __m256i incompleteLimit =
        _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                         -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                         static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));

    const Tables tables{byte1High, byte1Low, byte2High};
    __m256i previous = _mm256_setzero_si256();
    __m256i previousIncomplete = _mm256_setzero_si256();
    std::size_t i = 0;
    // Four blocks at a time: one branch for the common all-ASCII stretch and
    // one test for faults per 128 bytes.
    for (; i + 128 <= n; i += 128) {
        const auto* p = reinterpret_cast<const __m256i*>(s + i);
        const __m256i in0 = _mm256_loadu_si256(p), in1 = _mm256_loadu_si256(p + 1);
        const __m256i in2 = _mm256_loadu_si256(p + 2), in3 = _mm256_loadu_si256(p + 3);
        __m256i error;
        if (_mm256_movemask_epi8(
                _mm256_or_si256(_mm256_or_si256(in0, in1), _mm256_or_si256(in2, in3))) == 0) {
            error = previousIncomplete;
        } else {
            error = blockError(tables, in0, previous);
            error = _mm256_or_si256(error, blockError(tables, in1, in0));
            error = _mm256_or_si256(error, blockError(tables, in2, in1));
            error = _mm256_or_si256(error, blockError(tables, in3, in2));
            previousIncomplete = _mm256_subs_epu8(in3, incompleteLimit);
        }
        if (!_mm256_testz_si256(error, error)) break;
        previous = in3;
    }
    // Back up from the stop to the lead byte of the sequence that holds the
    // byte before it: everything in front of that lead is valid.
    std::size_t lead = i;
    for (int step = 0; step < 4 && lead > 0; ++step) {
        --lead;
        if (!isContinuation(s[lead])) return lead;
    }
    return 0;  // not reached for bytes that passed the checks
}

}  // namespace avx2

bool hasAvx2() {
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported;
}
#endif

}  // namespace

std::size_t validPrefixLength(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t start = 0;
#if defined(LARKSPIN_UTF8_AVX2)
    if (n >= 64 && hasAvx2()) start = avx2::validatedPrefix(s, n);
#endif
    return start + scalarValidPrefixLength(s + start, n - start);
}

bool isValid(std::string_view bytes) {
    return validPrefixLength(bytes) == bytes.size();
}

std::int64_t countCharacters(std::string_view text) {
    std::int64_t count = 0;
    for (unsigned char c : text) count += (c & 0xC0) != 0x80;
    return count;
}

}  // namespace larkspin::utf8
