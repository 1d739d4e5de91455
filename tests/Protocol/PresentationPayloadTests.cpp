#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Appearance/AccessibilityDisplayOptions.hpp"
#include "Appearance/TypographySettings.hpp"
#include "Protocol/AccessibilityDisplayOptionsFields.hpp"
#include "Platform/Json/PayloadCodec.hpp"
#include "Protocol/SetBackgroundPayload.hpp"
#include "Protocol/SetThemePayload.hpp"
#include "Protocol/SetTypographyPayload.hpp"
#include "Protocol/TypographyAppliedPayload.hpp"
#include "Protocol/ReaderTestSupport.hpp"

namespace larkspin {
namespace {

template <typename T>
void expectRoundTrip(const T& value) {
    const JSONValue encoded = PayloadCodec::encode(value);
    const T decoded = PayloadCodec::decode<T>(JSONValue::parse(encoded.serialized()));
    EXPECT_EQ(decoded, value);
}

template <typename T>
bool decodes(std::string_view text) {
    try {
        PayloadCodec::decode<T>(json(text));
        return true;
    } catch (const CodingError&) {
        return false;
    }
}

const char* const kTypographyApplied = R"({"fontSizePx":17.5,"widthPreset":"wide",
    "lineHeightPreset":"loose","proseWidthRem":48,"lineHeight":1.8,"bodyFamily":"\"Inter\"",
    "monoFamily":"","headingFamily":"","fontWeight":400,"headingWeight":700,"rejected":[]})";

std::string typographyAppliedWith(std::string_view key, std::string_view value) {
    JSONValue reply = json(kTypographyApplied);
    if (value.empty()) {
        reply.objectValue()->erase(std::string(key));
    } else {
        reply.objectValue()->insert_or_assign(std::string(key), json(value));
    }
    return reply.serialized();
}

TEST(PresentationPayloads, RequestsRoundTrip) {
    expectRoundTrip(SetThemePayload{
        "midnight", 7, {{"--md-canvas", "#101418"}, {"--md-background-style", "solid"}}});
    expectRoundTrip(SetBackgroundPayload{"#101418", "dark"});
    expectRoundTrip(SetBackgroundPayload{"#FAFAF7", std::nullopt});
    expectRoundTrip(AccessibilityDisplayOptions{true, false, true});

    TypographySettings settings;
    settings.fontSizePx = 18.5;
    settings.widthPreset = TypographyWidthPreset::wide;
    settings.lineHeightPreset = TypographyLineHeightPreset::compact;
    settings.bodyFamily = "\"Source Serif 4\"";
    settings.monoFamily = "\"JetBrains Mono\"";
    settings.fontWeight = 500;
    settings.wideBlocks = WideBlockMode::full;
    const auto payload = SetTypographyPayload::from(settings);
    expectRoundTrip(payload);
    EXPECT_EQ(PayloadCodec::encode(payload), json(R"({"fontSizePx":18.5,"widthPreset":"wide",
        "lineHeightPreset":"compact","bodyFamily":"\"Source Serif 4\"",
        "monoFamily":"\"JetBrains Mono\"","headingFamily":"","fontWeight":500,"wideBlocks":"full"})"));
}

TEST(PresentationPayloads, AccessibilityRequestHasTheAppearanceLayersOwnForm) {
    for (const auto& options :
         {AccessibilityDisplayOptions{}, AccessibilityDisplayOptions{true, true, false}}) {
        EXPECT_EQ(PayloadCodec::encode(options), JSONValue::parse(options.toJSON().dump()));
    }
    EXPECT_FALSE(
        decodes<AccessibilityDisplayOptions>(R"({"reduceMotion":true,"increaseContrast":true})"));
}

TEST(PresentationPayloads, TypographyReplyIsStrictAboutPresetsAndTheRejectedList) {
    const auto reply = PayloadCodec::decode<TypographyAppliedPayload>(json(kTypographyApplied));
    EXPECT_EQ(reply.widthPreset, TypographyWidthPreset::wide);
    EXPECT_EQ(reply.lineHeightPreset, TypographyLineHeightPreset::loose);
    EXPECT_FALSE(reply.wideBlocks);  // absent is not an error
    EXPECT_TRUE(reply.rejected.empty());
    expectRoundTrip(reply);

    auto withWideBlocks = reply;
    withWideBlocks.wideBlocks = WideBlockMode::aligned;
    withWideBlocks.rejected = {"bodyFamily", "fontWeight"};
    expectRoundTrip(withWideBlocks);

    EXPECT_TRUE(decodes<TypographyAppliedPayload>(typographyAppliedWith("wideBlocks", "\"full\"")));
    EXPECT_FALSE(
        decodes<TypographyAppliedPayload>(typographyAppliedWith("wideBlocks", "\"Full\"")));
    EXPECT_FALSE(
        decodes<TypographyAppliedPayload>(typographyAppliedWith("widthPreset", "\"narrow\"")));
    EXPECT_FALSE(decodes<TypographyAppliedPayload>(typographyAppliedWith("widthPreset", "null")));
    EXPECT_FALSE(
        decodes<TypographyAppliedPayload>(typographyAppliedWith("lineHeightPreset", "1.5")));
    EXPECT_FALSE(decodes<TypographyAppliedPayload>(typographyAppliedWith("rejected", "")));
    EXPECT_FALSE(
        decodes<TypographyAppliedPayload>(typographyAppliedWith("headingWeight", "700.5")));
    EXPECT_FALSE(decodes<SetTypographyPayload>(R"({"fontSizePx":16,"widthPreset":"comfortable",
        "lineHeightPreset":"standard","bodyFamily":"","monoFamily":"","headingFamily":"",
        "fontWeight":400})"));
}

TEST(PresentationPayloads, ThemeTokensMustAllBeText) {
    EXPECT_TRUE(decodes<SetThemePayload>(R"({"themeID":"mist","themeRevision":1,"tokens":{}})"));
    EXPECT_FALSE(
        decodes<SetThemePayload>(R"({"themeID":"mist","themeRevision":1,"tokens":{"--md-a":1}})"));
    EXPECT_FALSE(decodes<SetThemePayload>(R"({"themeID":"mist","themeRevision":1.5,"tokens":{}})"));
}

}  // namespace
}  // namespace larkspin
