// What a reader sees of a document in the real engine: a place kept at the
// top of the page, heading scrolls that settle once the chunks near them are
// laid out, a place kept while formulas above it are typeset and through
// changes of text size, theme and contrast, a long table's columns and
// find's marks on it, images the reader refuses, and code boxes in a dark
// theme.

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

// Parts of a heading, a paragraph with an inline formula, a display formula
// (a sum and a fraction) and a closing paragraph.
std::string mathParts(int parts) {
    std::string text;
    for (int n = 1; n <= parts; ++n) {
        text += fmt::format(
            "## Part {0}\n\nThe value $\\alpha_{{{0}}} + x^2$ is part {0}'s.\n\n"
            "$$\\sum_{{k=1}}^{{{0}}} k = \\frac{{{0}({0}+1)}}{{2}}$$\n\nClosing words of part {0}.\n\n",
            n);
    }
    return text;
}

// Follows `target` (an element) at every frame until the formulas near the
// screen are all typeset: how far its top moved from where it was, and
// whether any formula box still waits on screen then.
constexpr const char* followWhileTypeset = R"(
    const article = document.querySelector('#content > article.md-doc');
    const placed = target.getBoundingClientRect().top;
    let moved = 0;
    const limit = performance.now() + 20000;  // an upper bound, not a delay
    do {
        await new Promise((done) => requestAnimationFrame(done));
        moved = Math.max(moved, Math.abs(target.getBoundingClientRect().top - placed));
    } while (article.enhancementsComing && performance.now() < limit);
    for (let i = 0; i < 3; i++) {
        await new Promise((done) => requestAnimationFrame(done));
        moved = Math.max(moved, Math.abs(target.getBoundingClientRect().top - placed));
    }
    const waiting = Array.from(document.querySelectorAll('.md-math-pending'))
        .filter((box) => { const r = box.getBoundingClientRect(); return r.bottom > 0 && r.top < innerHeight; });
    return { moved, settled: !article.enhancementsComing, waitingOnScreen: waiting.length,
             typeset: document.querySelectorAll('.katex').length };
)";

// Follows `target` at every frame until no formula box on screen waits for
// its typeset formula, and for half a second after (or for 20 s at most):
// how far its top moved from where it was.
constexpr const char* followUntilTypesetOnScreen = R"(
    const placed = target.getBoundingClientRect().top;
    let moved = 0;
    const waiting = () => Array.from(document.querySelectorAll('.md-math-pending'))
        .filter((box) => { const r = box.getBoundingClientRect(); return r.bottom > 0 && r.top < innerHeight; }).length;
    const limit = performance.now() + 20000;  // an upper bound, not a delay
    let after = null;
    while (performance.now() < limit && (after === null || performance.now() < after)) {
        await new Promise((done) => requestAnimationFrame(done));
        moved = Math.max(moved, Math.abs(target.getBoundingClientRect().top - placed));
        if (after === null && waiting() === 0) after = performance.now() + 500;
    }
    return { moved, waitingOnScreen: waiting() };
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

TEST_F(PageReadingTest, FormulasTypesetAboveTheReadingLineMoveNothingOnScreen) {
    loadPage();
    const std::string source = mathParts(200);
    // A place at the top of the screen, set at once as a restored place
    // is; then a heading reached from the outline.
    ASSERT_EQ(render(source)["type"], "rendered");
    json followed = page->script(std::string(R"(
        const target = Array.from(document.querySelectorAll('#content p'))
            .find((p) => p.textContent.trim() === 'Closing words of part 120.');
        document.scrollingElement.scrollTop = target.getBoundingClientRect().top + document.scrollingElement.scrollTop;
    )") + followWhileTypeset);
    ASSERT_TRUE(followed.contains("moved")) << followed.dump();
    EXPECT_TRUE(followed["settled"].get<bool>()) << followed.dump();
    EXPECT_EQ(followed["waitingOnScreen"], 0) << followed.dump();
    EXPECT_GT(followed["typeset"].get<int>(), 0) << followed.dump();
    EXPECT_LE(followed["moved"].get<double>(), 2.0) << followed.dump();

    ASSERT_EQ(render(source)["type"], "rendered");
    EXPECT_EQ(page->request("scrollToHeading", {{"id", "part-120"}})["payload"]["found"], true);
    followed = page->script(std::string("const target = document.getElementById('part-120');\n") + followWhileTypeset);
    ASSERT_TRUE(followed.contains("moved")) << followed.dump();
    EXPECT_LE(followed["moved"].get<double>(), 2.0) << followed.dump();
    EXPECT_NEAR(place("part-120")["top"].get<double>(), 0.0, 2.0);
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(PageReadingTest, AJumpNearTheEndRightAfterTheRenderMovesNothingOnScreen) {
    loadPage();
    // Paragraphs of a dozen inline formulas: blocks whose estimated heights
    // (from their source) are larger than their typeset ones.
    std::string source = "# Inline math\n\n";
    for (int n = 1; n <= 300; ++n) {
        for (int k = 1; k <= 12; ++k) {
            const int index = n * 12 + k;
            source += k % 3 == 0   ? fmt::format("word{} and more $x_{{{}}} + y^2$ ", index, index)
                      : k % 3 == 1 ? fmt::format("word{} and more $\\frac{{{}}}{{n}}$ ", index, index)
                                   : fmt::format("word{} and more $\\alpha_{{{}}} \\leq \\beta$ ", index, index);
        }
        source += "end.\n\n";
    }
    // The scroll bar dragged near the end, to its end, and the End key.
    for (const std::string ratio : {"0.97", "1", "End"}) {
        ASSERT_EQ(render(source)["type"], "rendered");
        // The block at the top of the first frame after it is followed from
        // there.
        const json followed = page->script(std::string(R"(
            const scroller = document.scrollingElement;
            if (ratio === 'End') {
                document.body.dispatchEvent(new KeyboardEvent('keydown', { key: 'End', bubbles: true, cancelable: true }));
            } else {
                scroller.scrollTop = (scroller.scrollHeight - innerHeight) * Number(ratio);
            }
            await new Promise((done) => requestAnimationFrame(done));
            await new Promise((done) => setTimeout(done, 0));
            const target = Array.from(document.querySelectorAll('#content .md-chunk > *'))
                .find((block) => { const box = block.getBoundingClientRect(); return box.bottom > 0 && box.top < innerHeight; });
        )") + followUntilTypesetOnScreen,
                                           {{"ratio", ratio}});
        ASSERT_TRUE(followed.contains("moved")) << ratio << " " << followed.dump();
        EXPECT_LE(followed["moved"].get<double>(), 2.0) << ratio << " " << followed.dump();
        if (ratio != "0.97") {
            // The last paragraph is on screen, at the bottom.
            const json end = page->script(R"(
                const blocks = document.querySelectorAll('#content .md-chunk > *');
                return innerHeight - blocks[blocks.length - 1].getBoundingClientRect().bottom;
            )");
            EXPECT_GE(end.get<double>(), 0.0) << ratio;
            EXPECT_LE(end.get<double>(), 150.0) << ratio;
        }
    }
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(PageReadingTest, TheTextAtTheReadingLineStaysThroughEveryChangeOfLook) {
    loadPage();
    constexpr int inset = 40;
    ASSERT_EQ(page->request("setViewportInsets", {{"top", inset}, {"bottom", 0}})["type"], "viewportInsetsApplied");
    const json typography = {{"fontSizePx", 16},  {"widthPreset", "comfortable"}, {"lineHeightPreset", "standard"},
                             {"bodyFamily", ""},  {"monoFamily", ""},             {"headingFamily", ""},
                             {"fontWeight", 400}, {"wideBlocks", "aligned"}};
    const json tokens = {{"--md-canvas", "#191B20"}, {"--md-code-bg", "#17191E"}};
    // Each step is a request and what it changes; the larger text comes one
    // step at a time and at once, the smaller one with a narrower column.
    std::vector<std::pair<std::string, json>> steps;
    for (const json& change : {json{{"fontSizePx", 17}}, json{{"fontSizePx", 18}}, json{{"fontSizePx", 16}},
                               json{{"fontSizePx", 20}}, json{{"fontSizePx", 13}, {"widthPreset", "compact"}},
                               json{{"lineHeightPreset", "loose"}, {"fontWeight", 600}}}) {
        json next = steps.empty() ? typography : steps.back().second;
        next.update(change);
        steps.emplace_back("setTypography", next);
    }
    steps.emplace_back("setTheme", json{{"themeID", "graphite"}, {"themeRevision", 1}, {"tokens", tokens}});
    steps.emplace_back("setAccessibility",
                       json{{"reduceMotion", true}, {"reduceTransparency", true}, {"increaseContrast", true}});
    steps.emplace_back("setTypography", typography);

    // Where the paragraph's top lies below the reading line, at most, over
    // the frames that follow a change (chunks coming near the screen take
    // their real heights then).
    constexpr const char* followParagraph = R"(
        const target = Array.from(document.querySelectorAll('#content p'))
            .find((p) => p.textContent.startsWith(`Paragraph one of section ${section} `));
        if (!target) return null;
        const line = Number(inset);
        if (place === 'yes') document.scrollingElement.scrollTop += target.getBoundingClientRect().top - line;
        let worst = 0;
        for (let frame = 0; frame < 12; frame++) {
            await new Promise((done) => requestAnimationFrame(done));
            const off = target.getBoundingClientRect().top - line;
            if (Math.abs(off) > Math.abs(worst)) worst = off;
        }
        return worst;
    )";
    ASSERT_EQ(render(sectionedDocument(600))["type"], "rendered");
    settleEnhancements();
    for (const int section : {30, 300, 550}) {
        const auto follow = [&](const char* place) {
            return page->script(followParagraph,
                                {{"section", std::to_string(section)}, {"place", place}, {"inset", std::to_string(inset)}});
        };
        ASSERT_EQ(page->request("setTypography", typography)["type"], "typographyApplied");
        const json placed = follow("yes");
        ASSERT_TRUE(placed.is_number()) << section;
        ASSERT_NEAR(placed.get<double>(), 0.0, 2.0) << section;
        for (const auto& [type, payload] : steps) {
            ASSERT_NE(page->request(type, payload)["type"], "error") << type << " " << payload.dump();
            const json moved = follow("no");
            ASSERT_TRUE(moved.is_number()) << moved.dump();
            EXPECT_NEAR(moved.get<double>(), 0.0, 2.0) << "section " << section << " after " << type << " "
                                                       << payload.dump();
        }
    }
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

TEST_F(PageReadingTest, ALongTableFitsItsColumnsToAllItsRowsAndToTheText) {
    loadPage();
    std::string source = "| n | name | note |\n|---|---|---|\n";
    for (int row = 1; row <= 1500; ++row) {
        source += row <= 1400 ? fmt::format("| {0} | item {0} | fine |\n", row)
                              : fmt::format("| {0} | item {0} | a longer note on row {0}, written late |\n", row);
    }
    constexpr const char* measure = R"(
        const table = document.querySelector('#content table');
        const room = table.parentElement.clientWidth;
        const rows = table.tBodies[0].rows;
        const cells = [rows[0], rows[rows.length - 1]].flatMap((row) => Array.from(row.cells));
        return { rows: rows.length, layout: getComputedStyle(table).tableLayout, width: table.getBoundingClientRect().width,
                 room, first: rows[0].getBoundingClientRect().height, last: rows[rows.length - 1].getBoundingClientRect().height,
                 overflowing: cells.filter((cell) => cell.scrollWidth > cell.clientWidth + 1).length };
    )";
    ASSERT_EQ(render(source)["type"], "rendered");
    json table = page->script(measure);
    ASSERT_EQ(table["rows"], 1500) << table.dump();
    EXPECT_EQ(table["layout"], "fixed") << table.dump();
    EXPECT_LE(table["width"].get<double>(), table["room"].get<double>() + 1) << table.dump();
    // The late notes fit on one line, as the first rows' cells do.
    EXPECT_NEAR(table["last"].get<double>(), table["first"].get<double>(), 1.0) << table.dump();
    EXPECT_EQ(table["overflowing"], 0) << table.dump();

    // Larger text: the columns follow it, no text runs out of its cell, and
    // a late note takes at most a few lines.
    const json typography = {{"fontSizePx", 30},      {"widthPreset", "comfortable"}, {"lineHeightPreset", "standard"},
                             {"bodyFamily", ""},      {"monoFamily", ""},             {"headingFamily", ""},
                             {"fontWeight", 400},     {"wideBlocks", "aligned"}};
    ASSERT_EQ(page->request("setTypography", typography)["type"], "typographyApplied");
    table = page->script(measure);
    EXPECT_LE(table["width"].get<double>(), table["room"].get<double>() + 1) << table.dump();
    EXPECT_EQ(table["overflowing"], 0) << table.dump();
    EXPECT_LE(table["last"].get<double>(), 3 * table["first"].get<double>()) << table.dump();
    EXPECT_TRUE(page->eventsOf("error").empty()) << page->eventsOf("error").front().dump();
}

// Find marks a long table's matches about the screen only, and those of the
// rows the reader scrolls to as they come: in the middle of 1,500 rows the
// rows on screen carry their marks a few frames after the scroll.
TEST_F(PageReadingTest, ALongTablesMatchesAreMarkedWhereTheReaderScrollsTo) {
    loadPage();
    std::string source = "| n | name |\n|---|---|\n";
    for (int row = 1; row <= 1500; ++row) source += fmt::format("| {0} | entry {0} |\n", row);
    ASSERT_EQ(render(source)["type"], "rendered");
    const json found = page->request(
        "find", {{"query", "entry"}, {"direction", "next"}, {"caseSensitive", false}, {"restart", true}});
    ASSERT_EQ(found["payload"]["matchCount"], 1500) << found.dump();
    const json seen = page->script(R"(
        const onScreen = () => Array.from(document.querySelectorAll('mark.md-find')).filter((mark) => {
            const box = mark.getBoundingClientRect();
            return box.bottom > 0 && box.top < innerHeight;
        }).length;
        const rowsOnScreen = () => Array.from(document.querySelectorAll('#content tbody tr')).filter((row) => {
            const box = row.getBoundingClientRect();
            return box.bottom > 0 && box.top < innerHeight;
        });
        const scroller = document.scrollingElement;
        const before = document.querySelectorAll('mark.md-find').length;
        scroller.scrollTop = (scroller.scrollHeight - innerHeight) / 2;
        // Frames until the rows on screen are marked, within a bound.
        let frames = 0;
        while (onScreen() === 0 && frames < 120) {
            await new Promise((done) => requestAnimationFrame(done));
            frames += 1;
        }
        for (let i = 0; i < 3; i++) await new Promise((done) => requestAnimationFrame(done));
        return { before, marks: document.querySelectorAll('mark.md-find').length, onScreen: onScreen(),
                 rows: rowsOnScreen().length, frames };
    )");
    ASSERT_TRUE(seen.contains("onScreen")) << seen.dump();
    EXPECT_LT(seen["before"].get<int>(), 1500) << "marked about the screen only: " << seen.dump();
    EXPECT_GE(seen["onScreen"].get<int>(), seen["rows"].get<int>() - 1) << seen.dump();
    EXPECT_GT(seen["onScreen"].get<int>(), 5) << seen.dump();
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
