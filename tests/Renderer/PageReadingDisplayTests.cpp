// What a reader sees of a document in the real engine: a place kept at the
// top of the page, heading scrolls that settle once the chunks near them are
// laid out, images the reader refuses, and code boxes in a dark theme.

#include <fmt/format.h>

#include "Renderer/RendererPageTest.hpp"

namespace larkspin::test {
namespace {

// A changelog of 28 releases, newest first, each with one change.
std::string changelog() {
    std::string text = "# CHANGELOG\n\n";
    for (int minor = 28; minor >= 1; --minor) {
        text += fmt::format("## 1.{}.0\n\n- Change number {} of the release.\n\n", minor, minor);
    }
    return text;
}

constexpr const char* placeOf = R"(
    const element = document.getElementById(id);
    const scroller = document.scrollingElement;
    if (!element) return null;
    const box = element.getBoundingClientRect();
    return { top: box.top, bottom: box.bottom, scrollTop: scroller.scrollTop,
             maxScroll: scroller.scrollHeight - innerHeight, height: innerHeight };
)";

class PageReadingTest : public RendererPageTest {
protected:
    json place(const std::string& id) { return page->script(placeOf, {{"id", id}}); }
};

TEST_F(PageReadingTest, AnAnchorCapturedAtTheTopIsRestoredAtTheTop) {
    loadPage();
    const std::string source = sectionedDocument(30);
    for (const int inset : {0, 40}) {
        ASSERT_EQ(page->request("setViewportInsets", {{"top", inset}, {"bottom", 0}})["type"],
                  "viewportInsetsApplied");
        ASSERT_EQ(render(source)["type"], "rendered");
        page->script("document.scrollingElement.scrollTop = 0; return true;");
        const json anchor = page->request("captureAnchor")["payload"]["anchor"];
        ASSERT_EQ(anchor["blockId"], "guide") << anchor.dump();
        EXPECT_EQ(anchor["scrollTop"], 0);
        page->script("document.scrollingElement.scrollTop = 600; return true;");

        // The page is built again (a retry after a crash) and returns to it.
        const json report = render(source, {{"restoreAnchor", anchor}})["payload"]["anchorRestored"];
        EXPECT_EQ(report["strategy"], "exact") << report.dump();
        EXPECT_EQ(report["scrollTop"], 0) << inset;
        EXPECT_EQ(place("guide")["scrollTop"], 0) << inset;
    }
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(PageReadingTest, AHeadingScrollSettlesOnceTheChunksNearItAreLaidOut) {
    loadPage();
    const std::string source = changelog();
    constexpr double inset = 30;
    // From a fresh render each time: the chunks below the first screen have
    // only their estimated heights when the scroll starts.
    for (const std::string id : {"110", "120", "150", "1100", "1200"}) {
        ASSERT_EQ(render(source)["type"], "rendered");
        ASSERT_EQ(page->request("setViewportInsets", {{"top", inset}, {"bottom", 0}})["type"],
                  "viewportInsetsApplied");
        EXPECT_EQ(page->request("scrollToHeading", {{"id", id}})["payload"],
                  json({{"id", id}, {"found", true}}));
        const json at = place(id);
        ASSERT_TRUE(at.is_object()) << id;
        // At the reading line, or as near as the end of the document allows
        // with the heading in view.
        if (at["scrollTop"].get<double>() < at["maxScroll"].get<double>() - 1) {
            EXPECT_NEAR(at["top"].get<double>(), inset, 1.0) << id << " " << at.dump();
        } else {
            EXPECT_GE(at["top"].get<double>(), inset - 1) << id << " " << at.dump();
            EXPECT_LE(at["bottom"].get<double>(), at["height"].get<double>()) << id << " " << at.dump();
        }
    }
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(PageReadingTest, AnImageTheReaderRefusesShowsItsTextAndTheReason) {
    dir.write("wide.png", whitePng(9000, 4));  // wider than the reader serves
    dir.write("small.png", whitePng(3, 2));
    loadPage();
    ASSERT_EQ(render("# Map\n\n![A wide map](wide.png) ![small](small.png)\n")["type"], "rendered");
    json shown;
    EXPECT_TRUE(waitFor([&] {
        shown = page->script(R"(
            const span = document.querySelector('.md-image-unavailable');
            const small = document.querySelector('img[alt="small"]');
            if (!span || !small?.complete) return null;
            return { text: span.textContent, reason: getComputedStyle(span, '::after').content,
                     width: span.getBoundingClientRect().width, images: document.querySelectorAll('img').length };)");
        return shown.is_object();
    })) << shown.dump();
    EXPECT_EQ(shown["text"], "A wide map");
    EXPECT_NE(shown["reason"].get<std::string>().find("too large"), std::string::npos) << shown.dump();
    EXPECT_GT(shown["width"].get<double>(), 0.0);
    EXPECT_EQ(shown["images"], 1);  // the small one loaded and stays
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(PageReadingTest, CodeIsOutlinedWhereTheThemeLeavesItCloseToThePage) {
    loadPage();
    ASSERT_EQ(render("Some `inline` code.\n\n```c\nint x;\n```\n")["type"], "rendered");
    const json tokens = {{"--md-table-border", "#383D47"}, {"--md-canvas", "#191B20"}};
    for (const auto& [themeID, canvas, code, outlined] :
         {std::tuple{"graphite", "#191B20", "#17191E", true},
          std::tuple{"porcelain", "#FAFBFC", "#EEF1F5", false}}) {
        json themed = tokens;
        themed["--md-canvas"] = canvas;
        themed["--md-code-bg"] = code;
        ASSERT_EQ(page->request("setTheme", {{"themeID", themeID}, {"themeRevision", 1}, {"tokens", themed}})["type"],
                  "themeApplied");
        const json shadows = page->script(R"(return {
            block: getComputedStyle(document.querySelector('.md-code > pre')).boxShadow,
            inline: getComputedStyle(document.querySelector('p > code')).boxShadow,
        };)");
        for (const char* key : {"block", "inline"}) {
            EXPECT_EQ(shadows[key] != "none", outlined) << themeID << " " << shadows.dump();
        }
    }
}

}  // namespace
}  // namespace larkspin::test
