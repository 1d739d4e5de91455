#include <gtest/gtest.h>

#include "Reader/PasteboardService.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin {
namespace {

class FakePasteboard final : public PasteboardService::Pasteboard {
public:
    void clearContents() override {
        calls.push_back("clear");
        contents.reset();
    }
    bool setString(const std::string& text) override {
        calls.push_back("set");
        if (accepts) contents = text;
        return accepts;
    }

    bool accepts = true;
    std::optional<std::string> contents = "earlier";
    std::vector<std::string> calls;
};

TEST(PasteboardService, ClearsThenOffersTheTextAndLogsTheOutcome) {
    auto pasteboard = std::make_shared<FakePasteboard>();
    const PasteboardService service(pasteboard);
    test::LogCapture logs;
    EXPECT_TRUE(service.write("# Größe\r\n", "selection"));
    EXPECT_EQ(pasteboard->contents, "# Größe\r\n");
    EXPECT_TRUE(logs.contains("actions", "copyText kind=selection chars=8 ok=true"));

    pasteboard->accepts = false;
    pasteboard->calls.clear();
    EXPECT_FALSE(service.write("", "code"));
    EXPECT_EQ(pasteboard->calls, (std::vector<std::string>{"clear", "set"}));
    EXPECT_EQ(pasteboard->contents, std::nullopt);  // cleared even though nothing was taken
    EXPECT_TRUE(logs.contains("actions", "copyText kind=code chars=0 ok=false"));
}

TEST(PasteboardService, CountsWhatAReaderSeesAsOneCharacter) {
    const std::pair<std::string, int> cases[] = {
        {"", 0}, {"abc", 3}, {"中文", 2}, {"e\xCC\x81", 1} /* e + combining acute */, {"\r\n", 1},
        {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 1},                                  // thumbs up, skin tone
        {"\xF0\x9F\x87\xA8\xF0\x9F\x87\xB3\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", 2},  // two flags
        {"\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7", 1},  // joined by ZWJ
        {std::string("a\0b", 3), 3}, {"a\xFF\xC3\xA9", 3} /* not UTF-8: by code units */};
    for (const auto& [text, count] : cases) EXPECT_EQ(PasteboardService::characterCount(text), count) << text;
}

}  // namespace
}  // namespace larkspin
