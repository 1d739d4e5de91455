#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Protocol/Payloads/RendererLanguage.hpp"

namespace larkspin {
namespace {

using Names = std::vector<std::string>;

TEST(RendererLanguage, OnlyTheFirstPreferredLocalizationCounts) {
    const struct {
        Names preferred;
        const char* expected;
    } cases[] = {
        {{}, "zh-Hans"},
        {{"en"}, "en"},
        {{"EN"}, "en"},
        {{"en-GB"}, "en"},
        {{"en_US"}, "en"},
        {{"eng"}, "zh-Hans"},
        {{"zh-Hant"}, "zh-Hans"},
        {{"fr", "en"}, "zh-Hans"},
        {{"zh-Hans", "en"}, "zh-Hans"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RendererLanguage::resolve(c.preferred), c.expected)
            << (c.preferred.empty() ? "<empty>" : c.preferred.front());
    }
}

TEST(RendererLanguage, PreferredLocalizationsAreTheShippedOnesInTheUsersOrder) {
    const struct {
        Names languageNames;  // as g_get_language_names gives them
        Names expected;
    } cases[] = {
        {{"en_GB.UTF-8", "en_GB", "en.UTF-8", "en", "C"}, {"en"}},
        {{"fr_FR.UTF-8", "fr_FR", "fr", "en_US", "en", "C"}, {"en"}},
        {{"zh_CN.UTF-8", "zh_CN", "zh", "C"}, {"zh-Hans"}},
        {{"zh_TW.UTF-8", "zh_TW", "en", "C"}, {"en"}},  // Traditional Chinese is not shipped
        {{"de_DE@euro", "zh_SG", "en"}, {"zh-Hans", "en"}},
        {{"C"}, {}},
        {{"POSIX"}, {}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        const auto localizations = RendererLanguage::preferredLocalizations(c.languageNames);
        EXPECT_EQ(localizations, c.expected)
            << (c.languageNames.empty() ? "" : c.languageNames.front());
    }
    // "C" alone falls back to the default language of the page.
    EXPECT_EQ(RendererLanguage::resolve(RendererLanguage::preferredLocalizations(Names{"C"})),
              "zh-Hans");
}

}  // namespace
}  // namespace larkspin
