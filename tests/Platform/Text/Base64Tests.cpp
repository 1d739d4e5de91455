#include <gtest/gtest.h>

#include "Platform/Text/Base64.hpp"

namespace larkspin {
namespace {

TEST(Base64, EncodesWithPaddingAndRoundTripsEveryByte) {
    EXPECT_EQ(Base64::encode(""), "");
    EXPECT_EQ(Base64::encode("f"), "Zg==");
    EXPECT_EQ(Base64::encode("fo"), "Zm8=");
    EXPECT_EQ(Base64::encode("foo"), "Zm9v");
    EXPECT_EQ(Base64::encode("\xFB\xFF"), "+/8=");
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (std::size_t length : {0u, 1u, 2u, 3u, 255u, 256u}) {
        const auto bytes = all.substr(0, length);
        EXPECT_EQ(Base64::decode(Base64::encode(bytes)), bytes) << length;
    }
}

TEST(Base64, RefusesAnythingTheEncoderWouldNotWrite) {
    for (const char* junk :
         {"Zg", "Zg=", "Zg===", "Z===", "====", "Zm9v\n", " Zm9v", "Zm 9v",
          "Zm9v====", "Zg==Zg==", "Z=g=", "Zm9-", "Zm9_", "Zh==", "Zm9=", "\xC3\xA9xyz"}) {
        EXPECT_EQ(Base64::decode(junk), std::nullopt) << junk;
    }
}

}  // namespace
}  // namespace larkspin
