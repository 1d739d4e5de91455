// The reader view controller's decisions against a fake page and a manual
// clock: the handshake and its push order, render coalescing and the
// request's optional keys, insets, anchor snapshots, stale appearance
// replies, overlays, navigation and the entry page's load guard; release,
// rebuild, the spare, and crash recovery with its crash-loop window.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Protocol/Schemes/DocumentResourceSchemeHandler.hpp"
#include "Protocol/Envelope/PageCallError.hpp"
#include "Reader/ReaderTestSupport.hpp"
#include "Reader/WebViewWorkingSet.hpp"

namespace larkspin::test {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

SetThemePayload theme(std::int64_t revision) {
    SetThemePayload payload;
    payload.themeID = "porcelain";
    payload.themeRevision = revision;
    return payload;
}
const SetBackgroundPayload background{"#ffffff", "light"};
bool has(const JSONValue& payload, const char* key) { return payload.objectValue()->contains(key); }
std::string text(const JSONValue& payload, const char* key) { return *payload.objectValue()->at(key).stringValue(); }
double top(const JSONValue& payload) { return payload.objectValue()->at("top").numberValue()[0]; }
ReadingAnchor anchorAt(std::string blockId) {
    ReadingAnchor anchor;
    anchor.blockId = std::move(blockId);
    anchor.scrollTop = 120.7;
    return anchor;
}

TEST_F(ReaderTest, PushesMadeBeforeReadyAreSentByTheHandshakeInOrder) {
    reader->loadView();
    spawn([](std::shared_ptr<ReaderViewController> r) -> Task<void> {
        const AccessibilityDisplayOptions motion{true, false, false};
        co_await r->applyAccessibility(motion);
        const ColorComponents grey{0.5, 0.5, 0.5, 1};
        co_await r->applyTheme(theme(4), background, grey);
        const SetTypographyPayload typography;
        co_await r->applyTypography(typography);
    }(reader));
    for (double inset : {10.0, 20.0, 32.0}) reader->sendViewportInsets({inset, 0});
    reader->render("first");
    reader->render("second");
    MainThread::drainForTesting();
    EXPECT_TRUE(page().calls.empty());
    EXPECT_EQ(host->underPage->red, 0.5) << "the colour behind the page follows at once";

    post("ready");
    // Everything goes out at once, in the order the page must apply it,
    // without waiting for any reply: the render is not held a round trip
    // per push.
    waitForCalls(7);
    EXPECT_THAT(sent(), ElementsAre("probe", "setAccessibility", "setTheme", "setBackground",
                                    "setTypography", "setViewportInsets", "render"));
    for (int round = 0; round < 6; ++round) answerAll();
    EXPECT_EQ(top(payloadOf(5)), 32.0);
    EXPECT_EQ(text(payloadOf(6), "source"), "second");
    EXPECT_EQ(text(payloadOf(6), "language"), "en");
    EXPECT_EQ(page().request(6).sourceRevision, 2);
    EXPECT_TRUE(reader->diagnostics().lastCapabilities);
    const auto marks = reader->diagnostics().firstScreenMarks;
    EXPECT_TRUE(marks.readyAt && marks.probeDoneAt && marks.typographyDoneAt && marks.renderSentAt &&
                marks.renderedReceivedAt && !marks.usedPrewarmed);
}

TEST_F(ReaderTest, RenderCallsWhileOneRunsCollapseIntoOneFollowUp) {
    becomeReady();
    reader->render("text 0", RenderEnhancements{true, true, true});
    waitForCalls(2);
    for (int i = 1; i <= 10; ++i) {
        reader->render("text " + std::to_string(i), i == 10 ? std::nullopt : std::optional(RenderEnhancements{}));
    }
    MainThread::drainForTesting();
    EXPECT_EQ(page().calls.size(), 2u);
    EXPECT_TRUE(has(payloadOf(1), "enhancements"));
    answer(1, "rendered", R"({"headings":[],"renderGeneration":1})");
    waitForCalls(3);  // the page showed content: the follow-up asks for the anchor first
    answerUsual(2);
    waitForCalls(4);
    EXPECT_EQ(text(payloadOf(3), "source"), "text 10");
    EXPECT_FALSE(has(payloadOf(3), "enhancements") || has(payloadOf(3), "restoreAnchor"))
        << "the page had no anchor to give";
    EXPECT_EQ(reader->renderRevision(), 11);
    answerAll();
    EXPECT_EQ(page().calls.size(), 4u);
    EXPECT_FALSE(reader->diagnostics().isRendering);
}

TEST_F(ReaderTest, ARenderedReplyLogsItsLimitsOnceAndHandsItsHeadingsOn) {
    const std::vector<std::vector<BridgeHeading>>& handed = owner->rendered;
    renderedReply = R"({"headings":[{"level":1,"text":"One","id":"one"},{"level":2,"text":"Two","id":"two"}],)"
                    R"("renderGeneration":1,"limits":{"depthClamped":0,"nodesClamped":4,"codeTruncated":0,"diagramsSkipped":0}})";
    reader->render("text");
    becomeReady();
    ASSERT_THAT(sent(), ElementsAre("probe", "render"));
    std::size_t lines = 0;
    for (const auto& record : logs.records()) lines += record.message.find("渲染触发复杂度上限") != std::string::npos;
    EXPECT_EQ(lines, 1u);
    ASSERT_EQ(handed.size(), 1u);
    ASSERT_EQ(handed[0].size(), 2u);
    EXPECT_EQ(handed[0][1].id, "two");
    EXPECT_EQ(reader->lastHeadings(), handed[0]);
    EXPECT_EQ(reader->diagnostics().lastRendered->limits->nodesClamped, 4);
}

TEST(RenderQueueTest, TicketsOfAnEarlierGenerationChangeNothing) {
    RenderQueue queue;
    const auto first = queue.request();
    EXPECT_FALSE(queue.request());
    queue.reset();
    const auto second = queue.request();
    EXPECT_FALSE(queue.request());
    EXPECT_FALSE(queue.finish(*first));
    EXPECT_TRUE(queue.isRunning() && queue.isPending());
    EXPECT_TRUE(queue.finish(*second));
    EXPECT_FALSE(queue.isRunning());
}

TEST_F(ReaderTest, TheRequestCarriesOnlyTheKeysThatApply) {
    reader->setWindowActive(false);
    reader->render("text");
    becomeReady();
    ASSERT_THAT(sent(), ElementsAre("probe", "render"));
    EXPECT_TRUE(has(payloadOf(1), "background"));

    // A pending scroll line: no anchor, and the old scroll report is gone.
    renderedReply = R"({"headings":[],"renderGeneration":2,"scrolledToSource":{"line":7,"found":true,"blockId":"b7","sourceStart":6,"sourceEnd":8,"strategy":"block"}})";
    reader->setWindowActive(true);
    reader->setPendingScrollToSourceLine(7);
    reader->render("text 2");
    waitForCalls(3);
    EXPECT_FALSE(has(payloadOf(2), "background") || has(payloadOf(2), "restoreAnchor"));
    EXPECT_EQ(payloadOf(2).objectValue()->at("scrollToSource").serialized(), R"({"line":7})");
    answerAll();
    ASSERT_TRUE(reader->diagnostics().lastScrolledToSource);
    reader->setPendingScrollToSourceLine(9);
    reader->render("text 3");
    waitForCalls(4);
    EXPECT_FALSE(reader->diagnostics().lastScrolledToSource) << "a request with scrollToSource clears it";
    answerAll();
    reader->render("text 4");
    answerAll();  // the anchor first, then the render
    waitForCalls(6);
    EXPECT_FALSE(has(payloadOf(5), "scrollToSource")) << "a scroll line goes with one request";
}

// ---- release, rebuild, crash recovery -------------------------------------

TEST_F(ReaderTest, TwoProcessEndsWithinThreeSecondsStopTheRebuildsUntilRetry) {
    for (const auto& [gap, loops] : {std::pair{2900ms, true}, std::pair{3000ms, false}}) {
        host = std::make_shared<FakeHost>();
        reader = makeReader();
        reader->setReadingAnchor(anchorAt("b1"));
        becomeReady();
        reader->render("one");
        waitForCalls(2);
        reader->render("two");  // waits behind "one"
        terminate();            // the owner rebuilds at once
        EXPECT_TRUE(logs.contains("bridge", "Web 内容进程终止：count=1 hasAnchor=true anchorScrollTop=120"));
        EXPECT_TRUE(host->ports.size() == 2 && page().calls.empty()) << "nothing is sent before the page is ready";
        clock.advance(gap);
        terminate();
        EXPECT_EQ(reader->diagnostics().isInCrashLoop, loops);
        EXPECT_EQ(host->ports.size(), loops ? 2u : 3u);
        if (!loops) continue;
        EXPECT_TRUE(logs.contains("bridge", "Web 内容进程反复终止：count=2 sinceLastMs=2900"));
        EXPECT_TRUE(logs.contains("document", "文档状态页：正文渲染进程反复崩溃（正文渲染进程在 3 秒内连续终止 2 次，"));
        host->statusAction();  // retry
        EXPECT_EQ(host->log.back(), "load app-resource://renderer/index.html");
        clock.advance(1s);
        terminate();  // after a retry, a first end again
        EXPECT_FALSE(reader->diagnostics().isInCrashLoop);
        EXPECT_EQ(host->ports.size(), 4u);
    }
}

// Six ends spread over 18.9 seconds: only the last two lie within the
// crash-loop window, and the page says so.
TEST_F(ReaderTest, TheCrashLoopPageCountsOnlyTheEndsWithinItsWindow) {
    becomeReady();
    for (int end = 0; end < 5; ++end) {
        if (end > 0) clock.advance(4s);
        terminate();
        EXPECT_FALSE(reader->diagnostics().isInCrashLoop) << end;
    }
    clock.advance(2900ms);
    terminate();
    ASSERT_TRUE(reader->diagnostics().isInCrashLoop);
    EXPECT_TRUE(logs.contains("document", "正文渲染进程在 3 秒内连续终止 2 次，"));
    EXPECT_FALSE(logs.contains("document", "连续终止 6 次"));
    EXPECT_TRUE(logs.contains("bridge", "Web 内容进程反复终止：count=6 ")) << "the log keeps the whole count";
}

// The port does not hear a process end: the reader does, once, and tells
// its bridge before it rebuilds, so a waiting request ends as a process end.
TEST_F(ReaderTest, AProcessEndReachesTheBridgeThroughTheReaderBeforeTheRebuild) {
    becomeReady();
    const std::size_t before = page().calls.size();
    auto cleared = startTask(reader->clearFind());
    waitForCalls(before + 1);
    terminate();
    ASSERT_TRUE(runMainLoopUntil([&] { return cleared->finished; }));
    ASSERT_TRUE(cleared->error);
    try {
        std::rethrow_exception(cleared->error);
    } catch (const PageCallError& error) {
        EXPECT_EQ(error.kind(), PageCallError::Kind::webProcessTerminated);
    } catch (const std::exception& other) {
        ADD_FAILURE() << "ended with " << other.what();
    }
    EXPECT_EQ(host->ports.size(), 2u) << "rebuilt after";
}

TEST_F(ReaderTest, TheCrashLoopPagesRetryOutlivingTheReaderDoesNothing) {
    becomeReady();
    terminate();
    terminate();
    ASSERT_TRUE(reader->diagnostics().isInCrashLoop);
    const std::function<void()> retry = host->statusAction;  // the status view keeps its button
    const std::size_t ports = host->ports.size();
    reader.reset();
    retry();
    EXPECT_EQ(host->ports.size(), ports) << "no web view for a reader that is gone";
}

// A page never shown costs no web view: renders keep their text, the first
// showing builds the web view (a spare when one is ready, no rebuild) and the
// page then gets the latest text.
TEST_F(ReaderTest, AFirstWebViewDeferredUntilShownGetsTheLatestTextOnceBuilt) {
    for (const bool spare : {false, true}) {
        SCOPED_TRACE(spare ? "with a ready spare" : "fresh");
        host->ports.clear();
        host->log.clear();
        std::shared_ptr<WebViewPrewarmer> prewarmer;
        if (spare) {
            prewarmer = makePrewarmer();
            prewarmer->schedule();
            MainThread::drainForTesting();
            spareSaysReady();
        }
        reader = makeReader(true, prewarmer);
        reader->loadView(ReaderViewController::FirstWebView::whenShown);
        reader->setDocumentLocation(dir.path() / "doc.md");
        reader->render("first");
        reader->render("second");
        MainThread::drainForTesting();
        EXPECT_TRUE(host->ports.empty());
        EXPECT_TRUE(host->log.empty()) << "the spare stays for a page that is shown";
        EXPECT_TRUE(reader->isFirstWebViewDeferred());
        EXPECT_TRUE(reader->diagnostics().isFirstWebViewDeferred);
        EXPECT_FALSE(runTask(reader->releaseWebView())) << "nothing to give back";

        EXPECT_TRUE(reader->ensureWebView());
        EXPECT_FALSE(reader->ensureWebView()) << "one web view";
        EXPECT_FALSE(reader->isFirstWebViewDeferred());
        ASSERT_EQ(host->ports.size(), 1u);
        EXPECT_EQ(reader->diagnostics().rebuildCount, 0) << "a first web view is no rebuild";
        EXPECT_EQ(reader->diagnostics().documentResourceHandler->documentLocation(),
                  dir.path() / "doc.md");
        if (!spare) post("ready");
        waitForCalls(2);
        for (int round = 0; round < 6; ++round) answerAll();
        ASSERT_EQ(sent().back(), "render");
        EXPECT_EQ(text(payloadOf(page().calls.size() - 1), "source"), "second");
        reader.reset();
        MainThread::drainForTesting();
    }
}

// Without renderer files the deferred view shows the missing label at once
// and no showing builds a web view.
TEST_F(ReaderTest, ADeferredViewWithoutRendererFilesShowsTheMissingLabel) {
    reader = makeReader(false);
    reader->loadView(ReaderViewController::FirstWebView::whenShown);
    EXPECT_TRUE(host->missingText.has_value());
    EXPECT_FALSE(reader->ensureWebView());
    EXPECT_TRUE(host->ports.empty());
}

// A document window as the working set sees it, over the reader.
class ReaderWindow final : public WebViewWorkingSetMember {
public:
    explicit ReaderWindow(std::weak_ptr<ReaderViewController> reader) : reader(std::move(reader)) {}
    std::string readerDocumentID() const override { return "DOC"; }
    bool readerHasWebView() const override { return reader.lock()->hasWebView(); }
    bool isSelectedInWindow() const override { return reader.lock()->isWindowActive(); }
    bool isEditing() const override { return false; }
    Task<bool> releaseReader() override { return reader.lock()->releaseWebView(); }
    bool rebuildReader() override { return reader.lock()->ensureWebView(); }
    std::weak_ptr<ReaderViewController> reader;
};

TEST_F(ReaderTest, AnOwnerDecidesTheRebuildAndABackgroundReaderWaitsUntilShown) {
    const std::vector<ProcessRecoveryAction>& reported = owner->recoveries;
    owner->recover = [](ProcessRecoveryAction) {};
    becomeReady();
    terminate();
    EXPECT_TRUE(reader->ensureWebView()) << "left to the owner";
    EXPECT_FALSE(reader->ensureWebView()) << "one web view at a time";
    terminate();
    host->statusAction();
    EXPECT_THAT(reported, ElementsAre(ProcessRecoveryAction::rebuild, ProcessRecoveryAction::crashLoop,
                                      ProcessRecoveryAction::retry));
    EXPECT_EQ(host->ports.size(), 2u);
    // The working set decides: a reader whose window is not key rebuilds
    // only when its window is shown, with the anchor it had.
    const auto set = WebViewWorkingSet::create(3);
    const auto window = std::make_shared<ReaderWindow>(reader);
    owner->recover = [&](ProcessRecoveryAction a) { set->handleProcessRecovery(window, a); };
    reader->setReadingAnchor(anchorAt("b9"));
    reader->ensureWebView();
    set->registerMember(window);
    reader->setWindowActive(false);
    clock.advance(5s);
    terminate();
    EXPECT_EQ(host->ports.size(), 3u);
    reader->render("text");
    reader->setWindowActive(true);
    set->activate(window, true);
    EXPECT_EQ(host->ports.size(), 4u);
    post("ready");
    waitForCalls(3);
    ASSERT_THAT(sent(), ElementsAre("probe", "setViewportInsets", "render"));
    EXPECT_EQ(text(payloadOf(2).objectValue()->at("restoreAnchor"), "blockId"), "b9");
    renderedReply = R"({"headings":[],"renderGeneration":1,"anchorRestored":{"strategy":"fingerprint","applied":true,"blockId":"b9","scrollTop":120,"elapsedMs":1}})";
    answerAll();
    EXPECT_EQ(reader->diagnostics().lastRecoveryStrategy, ReadingAnchorStrategy::fingerprint);
}

TEST_F(ReaderTest, AnOwnerMayDestroyTheReaderFromItsCallbacks) {
    // Each event drops the last reference while a step of the reader is
    // under way; the sanitizer build catches a member touched afterwards.
    renderedReply = R"({"headings":[],"renderGeneration":1,"anchorRestored":{"strategy":"fingerprint","applied":true,"blockId":"b1","scrollTop":0,"elapsedMs":1}})";
    for (const std::string name : {"rendered", "recovery"}) {
        answered.clear();
        host = std::make_shared<FakeHost>();
        reader = makeReader();
        owner->onEvent = [this, name](const std::string& event) { if (event == name) reader.reset(); };
        owner->recover = [](ProcessRecoveryAction) {};  // the owner rebuilds nothing
        reader->setReadingAnchor(anchorAt("b1"));
        reader->render("text");
        reader->loadView();
        if (name == "recovery") terminate();
        if (reader) post("ready");
        if (reader) answerAll();
        if (reader) {
            waitForCalls(2);  // the render
            answerAll();
        }
        EXPECT_FALSE(reader) << name;
        MainThread::drainForTesting();
    }
}

TEST_F(ReaderTest, AReleaseCapturesTheAnchorThenGivesTheWebViewBack) {
    EXPECT_FALSE(runTask(reader->releaseWebView())) << "no web view yet";
    reader->render("text");
    becomeReady();
    auto release = startTask(reader->releaseWebView());
    waitForCalls(3);
    EXPECT_FALSE(runTask(reader->releaseWebView())) << "one release at a time";
    anchorReply = R"({"anchor":{"version":1,"blockId":"b3","kind":"p","fingerprint":"f","headingPath":[],"sourceRange":{"start":3,"end":4},"relativeOffset":0,"offsetPx":0,"scrollTop":480.5,"scrollRatio":0.5}})";
    answerAll();
    EXPECT_TRUE(release->finished && *release->value);
    EXPECT_EQ(host->log.back(), "discard");
    EXPECT_TRUE(logs.contains("bridge", "释放 WKWebView（第 1 次）：anchor=b3 scrollTop=480"));
    // A rebuild while the capture waits keeps the web view: the release says
    // no. A failed capture still releases, keeping the older anchor.
    EXPECT_TRUE(reader->ensureWebView());
    EXPECT_TRUE(logs.contains("bridge", "重建 WKWebView（第 1 次）：restoreAnchor=b3 hasSource=true"));
    becomeReady();
    for (const bool rebuiltMeanwhile : {true, false}) {
        release = startTask(reader->releaseWebView());
        waitForCalls(page().calls.size() + 1);
        if (rebuiltMeanwhile) reader->ensureWebView();
        answer(page().calls.size() - 1, "error", R"({"code":"internal","message":"no"})");
        EXPECT_NE(*release->value, rebuiltMeanwhile);
        EXPECT_NE(reader->hasWebView(), *release->value);
    }
    EXPECT_EQ(reader->readingAnchor().value_or(ReadingAnchor{}).blockId, "b3");
}

TEST_F(ReaderTest, AReadySpareIsAdoptedWithoutLoadingTheEntryPageAgain) {
    const auto prewarmer = makePrewarmer();
    prewarmer->schedule();
    MainThread::drainForTesting();
    spareSaysReady();
    reader = makeReader(true, prewarmer);
    reader->setDocumentLocation(dir.path() / "doc.md");
    reader->loadView();
    EXPECT_THAT(host->log, ElementsAre("adopt"));
    EXPECT_EQ(reader->diagnostics().documentResourceHandler->documentLocation(), dir.path() / "doc.md");
    ASSERT_EQ(sent(), std::vector<std::string>{"probe"}) << "the prewarmer's; the handshake runs on the next turn";
    waitForCalls(2);
    EXPECT_TRUE(reader->diagnostics().firstScreenMarks.usedPrewarmed);
    reader->render("text");
    answerAll();
    MainThread::drainForTesting();
    EXPECT_EQ(prewarmer->state(), WebViewPrewarmer::State::idle) << "not beside the page finishing its screen";
    clock.advance(WebViewPrewarmer::afterFirstRenderDelay);
    MainThread::drainForTesting();
    EXPECT_EQ(prewarmer->state(), WebViewPrewarmer::State::loading) << "the first reply restocks";
    spareSaysReady();
    terminate();  // a crash rebuild takes the next spare
    EXPECT_EQ(host->log.back(), "adopt");
}

TEST_F(ReaderTest, TheFirstAnswerToARenderRestocksTheSpareWhateverItSays) {
    struct Case {
        const char* name;
        std::string type;
        std::string payload;
    };
    const std::vector<Case> cases{
        {"an error reply", "error", R"({"code":"internal","message":"parser died"})"},
        {"a reply of another type", "anchor", "{}"},
        {"a rendered reply that does not read", "rendered", R"({"headings":7})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        spares.clear();
        host = std::make_shared<test::FakeHost>();
        const auto prewarmer = makePrewarmer();
        reader = makeReader(true, prewarmer);
        becomeReady();
        reader->render("text");
        waitForCalls(page().calls.size() + 1);
        ASSERT_EQ(sent().back(), "render");
        answer(page().calls.size() - 1, c.type, c.payload);
        EXPECT_TRUE(logs.contains("bridge", "render 失败"));
        clock.advance(WebViewPrewarmer::afterFirstRenderDelay);
        MainThread::drainForTesting();
        EXPECT_EQ(prewarmer->state(), WebViewPrewarmer::State::loading) << "the first answer restocks";
        reader.reset();
        MainThread::drainForTesting();
    }
}

// One kill of every web process: the page's end comes first, its rebuild
// adopts the spare, whose own end follows. That end is the spare's, not a
// second crash of the reader; once the adopted page has answered, its end is
// the reader's.
TEST_F(ReaderTest, ASpareThatDiesWithThePageIsNotASecondCrash) {
    const auto prewarmer = makePrewarmer();
    reader = makeReader(true, prewarmer);
    becomeReady();
    reader->render("text");
    answerAll();
    prewarmer->schedule();
    MainThread::drainForTesting();
    spareSaysReady();
    host->events.lock()->webViewProcessDidTerminate("crashed");
    ASSERT_EQ(host->log.back(), "adopt") << "the rebuild takes the spare";
    host->events.lock()->webViewProcessDidTerminate("crashed");
    MainThread::drainForTesting();
    EXPECT_EQ(host->log.back(), "load app-resource://renderer/index.html") << "a fresh page replaces the spare";
    EXPECT_FALSE(reader->diagnostics().isInCrashLoop);
    EXPECT_EQ(reader->processTerminationCount(), 1);
    EXPECT_FALSE(reader->isStatusShown());
    post("ready");
    answerAll();
    EXPECT_TRUE(reader->diagnostics().pageHasContent) << "the text is rendered on the fresh page";

    // A spare whose page answered the reader is the reader's own.
    clock.advance(5s);
    MainThread::drainForTesting();
    spareSaysReady();
    terminate();
    ASSERT_EQ(host->log.back(), "adopt");
    waitForCalls(2);
    answerAll();
    terminate();
    EXPECT_EQ(reader->processTerminationCount(), 3);
    EXPECT_TRUE(reader->diagnostics().isInCrashLoop);
}

TEST_F(ReaderTest, ASpareLostInTheTurnItWasAdoptedLeavesItsReplacementAlone) {
    const auto prewarmer = makePrewarmer();
    prewarmer->schedule();
    MainThread::drainForTesting();
    spareSaysReady();
    reader = makeReader(true, prewarmer);
    reader->render("text");
    reader->loadView();
    host->events.lock()->webViewProcessDidTerminate("crashed");  // before the adopted page's handshake
    MainThread::drainForTesting();
    ASSERT_EQ(host->ports.size(), 2u);
    EXPECT_EQ(host->log.back(), "load app-resource://renderer/index.html") << "no spare left: a new page";
    EXPECT_TRUE(page().calls.empty()) << "the replacement has not said ready";
    EXPECT_EQ(spares[0]->port->calls.size(), 1u) << "only the prewarmer's probe";
    post("ready");
    waitForCalls(1);
    EXPECT_EQ(sent().front(), "probe");
}

// ---- insets, anchors, appearance, overlays --------------------------------

TEST_F(ReaderTest, TheBannerCoversNothingAndInsetsGoOutOnce) {
    becomeReady();
    reader->hideBanner();
    const auto first = reader->showBanner("图片被拒", "重试", {}, {});
    reader->showBanner("图片被拒", "重试", {}, {});
    reader->hideBanner(first);  // a late hide of a replaced banner leaves the newer one up
    EXPECT_TRUE(reader->isBannerShown());
    waitForCalls(2);
    EXPECT_EQ(top(payloadOf(1)), 0.0) << "the banner sits above the web view, not over the page";
    answer(1, "error", R"({"code":"internal","message":"boom"})");
    EXPECT_TRUE(logs.contains("bridge", "setViewportInsets 失败：JS 端错误 internal：boom"));
    reader->sendViewportInsets({0, 0});  // the same as last asked for, failed or not
    reader->hideBanner();
    reader->sendViewportInsets({12, 0});
    waitForCalls(3);
    EXPECT_EQ(top(payloadOf(2)), 12.0);
    answer(2, "viewportInsetsApplied", R"({"top":12,"bottom":0,"originOffset":0})");
    EXPECT_TRUE(logs.contains("bridge", "viewportInsetsApplied top=12.000000 bottom=0.000000"));
    EXPECT_EQ(page().calls.size(), 3u);
    reader->showDocumentStatus({"标题 <b>", "说明 & 细节", std::string("预览"), std::nullopt});
    EXPECT_TRUE(reader->isStatusShown());
    EXPECT_TRUE(logs.contains("document", "文档状态页：标题 <b>（说明 & 细节）预览 6 字节"));
    reader->hideDocumentStatus();
    EXPECT_THAT(host->log, ElementsAre("load app-resource://renderer/index.html", "banner 图片被拒",
                                       "banner 图片被拒", "hideBanner", "status 标题 <b>", "hideStatus"));
}

TEST_F(ReaderTest, ActiveHeadingsCaptureTheAnchorOnceAfterTheyStop) {
    reader->render("text");
    becomeReady();
    const std::vector<std::string>& seen = owner->activeHeadings;
    for (int i = 0; i < 20; ++i) {
        post("activeHeading", R"({"id":"h)" + std::to_string(i) + R"(","index":0})");
        MainThread::drainForTesting();
        clock.advance(100ms);
        MainThread::drainForTesting();
    }
    EXPECT_EQ(seen.size(), 20u);
    EXPECT_EQ(page().calls.size(), 2u);
    clock.advance(400ms);
    waitForCalls(3);
    EXPECT_EQ(sent().back(), "captureAnchor");
    anchorReply = R"({"anchor":{"version":1,"blockId":"b3","kind":"p","fingerprint":"f","headingPath":["A","B"],"sourceRange":{"start":3,"end":4},"relativeOffset":0.25,"offsetPx":12.7,"scrollTop":1e300,"scrollRatio":0.5}})";
    answerAll();
    EXPECT_EQ(reader->diagnostics().anchorSnapshotCount, 1);
    EXPECT_EQ(reader->readingAnchor().value_or(ReadingAnchor{}).blockId, "b3");
    EXPECT_TRUE(logs.contains("bridge", "captureAnchor：block=b3 kind=p fp=f path=A › B lines=3-4 "
                                        "offset=0.250/12px scrollTop=9223372036854775807 ratio=0.500"));
}

TEST_F(ReaderTest, StaleAppearanceRepliesAreDroppedAndAFailedPushStopsNoTheme) {
    becomeReady();
    const auto older = startTask(reader->applyTheme(theme(4), background, {}));
    const auto newer = startTask(reader->applyTheme(theme(5), background, {}));
    waitForCalls(3);
    answerUsual(1);
    EXPECT_TRUE(older->finished && !*older->value);
    EXPECT_TRUE(logs.contains("bridge", "themeApplied 已过期：revision 4，当前 5"));
    answerAll();
    answerAll();
    EXPECT_TRUE(newer->finished && *newer->value);
    EXPECT_THAT(sent(), ElementsAre("probe", "setTheme", "setTheme", "setBackground"));

    SetTypographyPayload small;
    small.fontSizePx = 14;
    const auto first = startTask(reader->applyTypography(small));
    const auto second = startTask(reader->applyTypography(SetTypographyPayload{}));
    waitForCalls(6);
    answer(4, "typographyApplied", typographyReply());
    EXPECT_TRUE(first->finished && !*first->value);
    EXPECT_TRUE(logs.contains("bridge", "typographyApplied 已过期（等待期间有更新的设置）"));
    answer(5, "typographyApplied", typographyReply(R"(["bodyFamily","monoFamily"])"));
    EXPECT_TRUE(second->finished && *second->value && reader->diagnostics().lastTypographyApplied);
    EXPECT_TRUE(logs.contains("bridge", "heading=默认 weight=400/650，rejected: bodyFamily; monoFamily"));
    EXPECT_TRUE(logs.contains("bridge", "typographyApplied 有被拒字段：bodyFamily; monoFamily"));

    // A failed accessibility push still applies the theme.
    const Theme graphite = ThemeCatalog::theme(ThemeID::graphite);
    const auto push = startTask(reader->applyAppearance(graphite, 7, {false, true, false}));
    waitForCalls(7);
    answer(6, "error", R"({"code":"invalidPayload","message":"no"})");
    waitForCalls(8);
    EXPECT_TRUE(logs.contains("document", "应用主题 graphite 失败：JS 端错误 invalidPayload：no"));
    EXPECT_EQ(sent().back(), "setTheme");
    EXPECT_EQ(reader->diagnostics().lastTheme->themeRevision, 7);
    EXPECT_EQ(reader->diagnostics().lastTheme->tokens.at("--md-background-style"), "solid");
    EXPECT_EQ(reader->diagnostics().lastThemeBackground->colorScheme, "dark");
    EXPECT_EQ(*reader->diagnostics().lastUnderPageColor, graphite.background.solid.nativeColor());
    answerAll();
    answerAll();
    EXPECT_TRUE(push->finished);
}

TEST_F(ReaderTest, ATimedOutParseIsRenderedAgainOncePerRevision) {
    renderedReply = R"({"headings":[],"renderGeneration":1,"degraded":{"reason":"timeout","message":"slow"}})";
    reader->render("big");
    becomeReady();
    EXPECT_TRUE(logs.contains("bridge", "render 降级为纯文本（timeout，parseTimeoutMs=-，窗口活动=true）：slow"));
    for (const std::size_t calls : {4u, 4u}) {
        reader->setWindowActive(false);
        reader->setWindowActive(true);
        answerAll();
        EXPECT_EQ(page().calls.size(), calls);
    }
    EXPECT_THAT(sent(), ElementsAre("probe", "render", "captureAnchor", "render"));
    EXPECT_EQ(page().request(3).sourceRevision, 1);
    EXPECT_TRUE(logs.contains("bridge", "（sourceRevision 1，累计 1 次）"));
}

// ---- navigation, page events, missing files -------------------------------

TEST_F(ReaderTest, OnlyTheEntryPageLoadsItsLoadIsGuardedAndEventsGoWhereTheyBelong) {
    // A finished load ends the guard; an unfinished one is stopped at 60 s.
    reader->loadView();
    host->events.lock()->webViewDidFinishLoad();
    clock.advance(61s);
    MainThread::drainForTesting();
    EXPECT_THAT(host->log, ElementsAre("load app-resource://renderer/index.html"));
    EXPECT_FALSE(logs.contains("bridge", "首次导航失败"));
    host = std::make_shared<FakeHost>();
    reader = makeReader();
    becomeReady();
    auto events = host->events.lock();
    EXPECT_TRUE(events->webViewShouldNavigate({"app-resource://renderer/index.html"}));
    EXPECT_FALSE(events->webViewShouldNavigate({"https://example.com/", true, true, NavigationType::linkActivated}));
    EXPECT_TRUE(logs.contains("bridge", "拦截导航（导航类型 0）：https://example.com/"));
    clock.advance(59s);
    MainThread::drainForTesting();
    EXPECT_THAT(host->log, ::testing::Not(::testing::Contains("stop")));
    clock.advance(1s);
    MainThread::drainForTesting();
    EXPECT_THAT(host->log, ::testing::Contains("stop"));
    EXPECT_TRUE(logs.contains("bridge", "首次导航失败：入口页 60 秒内没有载入完成"));

    post("copyText", R"({"text":"copied","kind":"selection"})");
    post("openLink", R"({"href":"https://example.com","kind":"external","modifiers":{"command":false,"option":false,"shift":false}})");
    post("diagramRequest", R"({"diagramID":"d1","source":"graph TD","themeVariables":{}})");
    waitForCalls(2);
    EXPECT_THAT(pasteboard->strings, ElementsAre("copied"));
    ASSERT_EQ(owner->links.size(), 1u) << "a clicked link goes to the owner";
    EXPECT_EQ(owner->links[0].href, "https://example.com");
    EXPECT_EQ(payloadOf(1).serialized(),
              R"({"diagramID":"d1","error":{"code":"unavailable","message":"独立渲染服务不可用"}})");
    answer(1, "diagramApplied", R"({"diagramID":"d1","accepted":false})");
    EXPECT_TRUE(logs.contains("diagrams", "diagramResult d1 已过期（页面不再等待）"));
    host->events.lock()->webViewDidRefuseNewWindow("https://example.com/w");
    EXPECT_TRUE(logs.contains("bridge", "拦截新窗口请求：https://example.com/w"));
}

TEST_F(ReaderTest, WithoutTheRendererFilesOnlyTheLabelIsShown) {
    reader = makeReader(false);
    reader->loadView();
    EXPECT_TRUE(host->missingText && host->missingText->find("dist") != std::string::npos);
    EXPECT_TRUE(host->ports.empty());
    EXPECT_FALSE(reader->ensureWebView());
}

}  // namespace
}  // namespace larkspin::test
