#include "Document/RenderTier.hpp"

#include <gtest/gtest.h>

#include <clocale>

namespace larkspin {
namespace {

constexpr std::int64_t MiB = 1024 * 1024;

LoadedDocument loadOf(std::int64_t bytes, DocumentTextEncoding encoding = DocumentTextEncoding::utf8) {
    LoadedDocument loaded;
    loaded.byteCount = bytes;
    loaded.tier = classifySizeTier(bytes);
    loaded.encoding = encoding;
    if (loaded.tier == DocumentSizeTier::restricted) loaded.preview = "# first MiB";
    return loaded;
}

TEST(RenderTier, TheSizeDecidesHowTheTextIsShown) {
    struct Case {
        std::int64_t bytes;
        RenderPlan::Kind kind;
        bool renders;
        std::optional<RenderEnhancements> enhancements;
        std::optional<std::string> banner;
    };
    const RenderEnhancements off{false, false, false};
    const Case cases[] = {
        {0, RenderPlan::Kind::normal, true, std::nullopt, std::nullopt},
        {5 * MiB, RenderPlan::Kind::normal, true, std::nullopt, std::nullopt},
        {5 * MiB + 1, RenderPlan::Kind::large, true, off,
         "大文件（5.0 MiB）：已按需增强，未做代码高亮、公式与图表。"},
        {6 * MiB, RenderPlan::Kind::large, true, off,
         "大文件（6.0 MiB）：已按需增强，未做代码高亮、公式与图表。"},
        {20 * MiB, RenderPlan::Kind::large, true, off,
         "大文件（20.0 MiB）：已按需增强，未做代码高亮、公式与图表。"},
        {20 * MiB + 1, RenderPlan::Kind::restricted, false, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        const RenderPlan plan = planRendering(loadOf(c.bytes));
        EXPECT_EQ(plan.kind, c.kind);
        EXPECT_EQ(plan.renders, c.renders);
        EXPECT_EQ(plan.enhancements, c.enhancements);
        EXPECT_EQ(plan.banner ? std::optional(plan.banner->message) : std::nullopt, c.banner);
        if (plan.banner) {
            EXPECT_EQ(plan.banner->actionTitle, "完整渲染");
            EXPECT_EQ(plan.banner->action, RenderBanner::Action::renderFully);
        }
        EXPECT_EQ(plan.status.has_value(), c.kind == RenderPlan::Kind::restricted);
    }
}

TEST(RenderTier, RestrictedPreviewFailurePageAndEncodingNotice) {
    const RenderPlan restricted = planRendering(loadOf(25 * MiB));
    ASSERT_TRUE(restricted.status);
    EXPECT_EQ(restricted.status->title, "受限阅读：文件过大");
    EXPECT_EQ(restricted.status->detail,
              "文件 25.0 MiB，超过 20 MiB 的完整渲染上限。下面只读显示前 1 MiB 原文，后面的内容没有加载。"
              "原文件没有被改动。");
    EXPECT_EQ(restricted.status->preview, "# first MiB");
    EXPECT_FALSE(restricted.status->actionTitle);

    LoadedDocument failed;
    failed.failure = DocumentLoadFailure::notFound();
    const RenderPlan failure = planRendering(failed);
    EXPECT_EQ(failure.kind, RenderPlan::Kind::failure);
    EXPECT_FALSE(failure.renders);
    ASSERT_TRUE(failure.status);
    EXPECT_EQ(failure.status->title, DocumentLoadFailure::notFound().title());
    EXPECT_FALSE(failure.status->preview);

    // The encoding's notice: alone on a normal file, after the large-file
    // message on a large one; none for UTF-8.
    const auto notice = loadOf(1, DocumentTextEncoding::utf16LE).encodingNotice();
    ASSERT_TRUE(notice);
    const RenderPlan small = planRendering(loadOf(1, DocumentTextEncoding::utf16LE));
    ASSERT_TRUE(small.banner);
    EXPECT_EQ(small.banner->message, *notice);
    EXPECT_EQ(small.banner->actionTitle, "知道了");
    EXPECT_EQ(small.banner->action, RenderBanner::Action::dismiss);
    const RenderPlan large = planRendering(loadOf(6 * MiB, DocumentTextEncoding::utf16LE));
    EXPECT_EQ(large.banner->message,
              "大文件（6.0 MiB）：已按需增强，未做代码高亮、公式与图表。 " + *notice);
    EXPECT_FALSE(planRendering(loadOf(1, DocumentTextEncoding::utf8BOM)).banner);
}

TEST(RenderTier, MebibytesIgnoreTheLocalesDecimalComma) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "fr_FR.UTF-8");
    EXPECT_EQ(formatMebibytes(6 * MiB), "6.0");
    EXPECT_EQ(formatMebibytes(25 * MiB + MiB / 2), "25.5");
    EXPECT_EQ(formatMebibytes(5 * MiB + 1), "5.0");
    EXPECT_EQ(formatMebibytes(MiB * 99 / 100), "1.0");
    std::setlocale(LC_ALL, before.c_str());
    if (!comma) GTEST_LOG_(INFO) << "no locale with a decimal comma installed";
}

TEST(RenderTier, AccessDeniedWording) {
    EXPECT_NE(accessDeniedBannerMessage(false).find("文件权限"), std::string::npos);
    EXPECT_NE(accessDeniedBannerMessage(true).find("打开对话框"), std::string::npos);
}

}  // namespace
}  // namespace larkspin
