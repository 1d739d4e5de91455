#include <gtest/gtest.h>

#include "Platform/Text/TextTrimming.hpp"

namespace larkspin {
namespace {

// The one ASCII lower-casing: A–Z only, whatever the locale; every other
// byte (UTF-8 sequences included) kept as it is.
TEST(TextTrimming, AsciiLowercasingTouchesOnlyAToZ) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"APP-RESOURCE", "app-resource"},
        {"File.MD", "file.md"},
        {"İSTANBUL ÄÖ", "İstanbul ÄÖ"},
        {"@[`{", "@[`{"},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(asciiLowercased(text), expected) << text;
}

}  // namespace
}  // namespace larkspin
