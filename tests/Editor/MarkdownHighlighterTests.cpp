#include "Editor/MarkdownHighlighter.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace larkspin {
namespace {

using R = HighlightRole;

// The roles of each character, as a text buffer with one tag per role would
// hold them.
class RecordingSink : public HighlightSink {
public:
    void clearRoles(TextRange range) override {
        for (std::int64_t i = range.location; i < range.location + range.length; ++i) roles.erase(i);
        ++clears;
    }
    void addRole(HighlightRole role, TextRange range) override {
        for (std::int64_t i = range.location; i < range.location + range.length; ++i) roles[i].push_back(role);
    }
    bool has(std::int64_t at, HighlightRole role) const {
        const auto it = roles.find(at);
        if (it == roles.end()) return false;
        for (const HighlightRole r : it->second) {
            if (r == role) return true;
        }
        return false;
    }
    // Tags move with the text they are on.
    void shift(const TextStorage::Edit& edit) {
        std::map<std::int64_t, std::vector<HighlightRole>> moved;
        const std::int64_t oldEnd = edit.replacedRange.location + edit.replacedRange.length;
        for (auto& [at, list] : roles) {
            if (at < edit.replacedRange.location) moved[at] = std::move(list);
            else if (at >= oldEnd) moved[at + edit.changeInLength] = std::move(list);
        }
        roles = std::move(moved);
    }
    std::map<std::int64_t, std::vector<HighlightRole>> roles;
    int clears = 0;
};

struct Fixture {
    explicit Fixture(std::string text) : highlighter(storage, sink) {
        storage.replaceAll(std::move(text));
        storage.setEditObserver([this](TextStorage&, const TextStorage::Edit& edit) {
            sink.shift(edit);
            highlighter.noteEdit(edit);
        });
        highlighter.onChunkWanted = [this] { ++chunkRequests; };
        highlighter.isSuspended = [this] { return suspended; };
    }
    void runPass() {
        while (highlighter.runChunk()) {
        }
    }
    // Where the text holds `needle`, in characters.
    std::int64_t at(const std::string& needle) const {
        const auto byte = storage.string().find(needle);
        std::int64_t chars = 0;
        for (std::size_t i = 0; i < byte; ++i) chars += (storage.string()[i] & 0xC0) != 0x80;
        return chars;
    }
    TextStorage storage;
    RecordingSink sink;
    MarkdownHighlighter highlighter;
    bool suspended = false;
    int chunkRequests = 0;
};

// A long document of `lines` numbered plain lines.
std::string plainLines(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += "line " + std::to_string(i) + " with some words in it\n";
    return text;
}

TEST(MarkdownHighlighter, EmptyTextCompletesAtOnce) {
    Fixture f("");
    f.highlighter.highlightAll();
    EXPECT_TRUE(f.highlighter.isFullPassComplete());
    EXPECT_TRUE(f.sink.roles.empty());
    EXPECT_EQ(f.chunkRequests, 0);
}

TEST(MarkdownHighlighter, FencesColourTheirContentAndMarkers) {
    Fixture f("a\n```\n# not heading\n~~~ inside\n```\n# heading\n    ```\nb");
    f.highlighter.highlightAll();
    ASSERT_TRUE(f.highlighter.isFullPassComplete());
    EXPECT_TRUE(f.sink.has(f.at("```"), R::fenceMarker));
    EXPECT_TRUE(f.sink.has(f.at("# not"), R::fencedCode));
    EXPECT_FALSE(f.sink.has(f.at("# not"), R::heading));
    // A tilde line of another kind still counts as a marker, as the rule has it.
    EXPECT_TRUE(f.sink.has(f.at("~~~"), R::fenceMarker));
    // Three markers: the last opens a block that runs to the end.
    EXPECT_TRUE(f.sink.has(f.at("# heading"), R::fencedCode));
    EXPECT_FALSE(f.sink.has(f.at("    ```"), R::fenceMarker));
    EXPECT_FALSE(f.sink.has(f.at("a"), R::fencedCode));
    EXPECT_EQ(f.highlighter.fenceLineLocations(), (std::vector<std::int64_t>{2, 20, 31}));
}

TEST(MarkdownHighlighter, CountsCharactersNotBytes) {
    Fixture f("é ü\n**b**");
    f.highlighter.highlightAll();
    EXPECT_TRUE(f.sink.has(4, R::strong));
    EXPECT_TRUE(f.sink.has(8, R::strong));
    EXPECT_FALSE(f.sink.has(9, R::strong));
}

TEST(MarkdownHighlighter, FenceCacheFollowsEdits) {
    struct Case {
        const char* name;
        std::string text;
        TextRange range;
        std::string replacement;
        bool reColoursRest;
    };
    const std::string tail = "\ncode?\n# after\n";
    for (const Case& c : {
             Case{"typing a character", "x\n```\nin\n```" + tail, {0, 0}, "y", false},
             Case{"typing a fence", "x\n" + tail, {0, 1}, "```", true},
             Case{"closing a fence", "```\nin\n" + tail, {4, 2}, "```", true},
             Case{"deleting a fence line", "a\n```\nin" + tail, {2, 4}, "", true},
             Case{"replacing one fence by another", "```\nx" + tail, {0, 3}, "~~~", false},
         }) {
        Fixture f(c.text);
        f.highlighter.highlightAll();
        f.runPass();
        const int requests = f.chunkRequests;
        ASSERT_TRUE(f.storage.replaceCharacters(c.range, c.replacement)) << c.name;
        EXPECT_EQ(f.highlighter.isPassRunning(), c.reColoursRest) << c.name;
        EXPECT_EQ(f.chunkRequests > requests, c.reColoursRest) << c.name;
        f.runPass();
        // The patched cache equals one built from scratch, and the colours
        // equal those of a fresh full pass.
        const std::vector<std::int64_t> patched = f.highlighter.fenceLineLocations();
        const auto colours = f.sink.roles;
        f.highlighter.highlightAll();
        f.runPass();
        EXPECT_EQ(patched, f.highlighter.fenceLineLocations()) << c.name;
        EXPECT_EQ(colours, f.sink.roles) << c.name;
    }
}

TEST(MarkdownHighlighter, LongTextsAreColouredInChunksAtParagraphEnds) {
    Fixture f(plainLines(6000) + "```\ncode\n");
    f.highlighter.highlightAll();
    ASSERT_TRUE(f.highlighter.isPassRunning());
    const TextRange first = *f.highlighter.lastHighlightedRange();
    EXPECT_EQ(first.location, 0);
    EXPECT_GE(first.length, MarkdownHighlighter::chunkLength);
    EXPECT_EQ(f.storage.string()[static_cast<std::size_t>(first.length - 1)], '\n');
    EXPECT_EQ(f.chunkRequests, 1);
    f.runPass();
    EXPECT_TRUE(f.highlighter.isFullPassComplete());
    EXPECT_TRUE(f.sink.has(f.at("code"), R::fencedCode));
}

TEST(MarkdownHighlighter, CompositionDefersEditsAndTheirParityChange) {
    Fixture f(plainLines(4000));
    f.highlighter.highlightAll();
    f.runPass();
    const std::int64_t late = f.at("line 3999");
    ASSERT_FALSE(f.sink.has(late, R::fencedCode));

    f.suspended = true;
    const std::int64_t passes = f.highlighter.passCount();
    ASSERT_TRUE(f.storage.replaceCharacters({0, 0}, "```\n"));
    ASSERT_TRUE(f.storage.replaceCharacters({4, 0}, "x"));
    EXPECT_EQ(f.highlighter.passCount(), passes);
    EXPECT_EQ(f.highlighter.pendingRange(), (TextRange{0, f.at("line 1")}));

    f.suspended = false;
    f.highlighter.flushPending();
    EXPECT_TRUE(f.sink.has(0, R::fenceMarker));
    // The rest of the text changed sides: it is coloured after the flush.
    f.runPass();
    EXPECT_TRUE(f.sink.has(f.at("line 3999"), R::fencedCode));
}

TEST(MarkdownHighlighter, AChunkMetWhileComposingWaitsForTheFlush) {
    Fixture f(plainLines(6000) + "```\ncode\n");
    f.highlighter.highlightAll();
    f.suspended = true;
    EXPECT_FALSE(f.highlighter.runChunk());
    EXPECT_TRUE(f.highlighter.isPassRunning());
    EXPECT_FALSE(f.highlighter.isFullPassComplete());
    const int requests = f.chunkRequests;
    f.suspended = false;
    f.highlighter.flushPending();
    EXPECT_EQ(f.chunkRequests, requests + 1);
    f.runPass();
    EXPECT_TRUE(f.highlighter.isFullPassComplete());
    EXPECT_TRUE(f.sink.has(f.at("code"), R::fencedCode));
}

TEST(MarkdownHighlighter, AnEditBehindARunningPassKeepsItsPlace) {
    Fixture f(plainLines(6000) + "```\ncode\n");
    f.highlighter.highlightAll();
    ASSERT_TRUE(f.storage.replaceCharacters({0, 0}, "ééé"));
    f.runPass();
    EXPECT_TRUE(f.highlighter.isFullPassComplete());
    EXPECT_TRUE(f.sink.has(f.at("code"), R::fencedCode));
    EXPECT_TRUE(f.sink.has(f.at("```"), R::fenceMarker));
}

TEST(MarkdownHighlighter, ReplacingTheWholeTextRecolours) {
    Fixture f("# a\n");
    f.highlighter.highlightAll();
    ASSERT_TRUE(f.storage.replaceAll("x\n```\ny"));
    EXPECT_FALSE(f.sink.has(0, R::heading));
    f.runPass();
    EXPECT_TRUE(f.sink.has(6, R::fencedCode));

    // A long replacement (a reload) colours one chunk at once, the rest later.
    ASSERT_TRUE(f.storage.replaceAll(plainLines(6000) + "## end\n"));
    EXPECT_LE(f.highlighter.lastHighlightedRange()->length, MarkdownHighlighter::chunkLength + 64);
    EXPECT_TRUE(f.highlighter.isPassRunning());
    f.runPass();
    EXPECT_TRUE(f.sink.has(f.at("## end"), R::heading));
}

}  // namespace
}  // namespace larkspin
