#include "Updates/Version.hpp"

#include <gtest/gtest.h>

namespace larkspin {
namespace {

TEST(Version, ComparesSegmentBySegment) {
    struct Case {
        const char* left;
        const char* right;
        int expected;  // sign of left <=> right
    };
    const Case cases[] = {
        {"1.10", "1.9", 1},        // numbers, not text
        {"1.2", "1.2.0", 0},       // a missing segment is 0
        {"1.2.0.0", "1.2", 0},
        {"1.2b1", "1.2", -1},      // a pre-release before its release
        {"1.2b1", "1.2.0", -1},
        {"1.2b2", "1.2b1", 1},
        {"1.2rc1", "1.2b3", 1},    // letters as text
        {"1.2", "1.2.1", -1},
        {"2", "1.99.99", 1},
        {"01.002", "1.2", 0},      // leading zeros do not count
        {"1.123456789012345678901234", "1.99", 1},  // beyond 64 bits
        {"1-2_3", "1.2.3", 0},     // any other character separates
        {"", "0", 0},
        {"1.0", "1.0b", 1},
    };
    for (const auto& c : cases) {
        const auto order = Version::compare(c.left, c.right);
        const int sign = order < 0 ? -1 : (order > 0 ? 1 : 0);
        EXPECT_EQ(sign, c.expected) << c.left << " vs " << c.right;
        const auto reverse = Version::compare(c.right, c.left);
        EXPECT_EQ(reverse < 0 ? -1 : (reverse > 0 ? 1 : 0), -c.expected) << c.right << " vs " << c.left;
    }
}

}  // namespace
}  // namespace larkspin
