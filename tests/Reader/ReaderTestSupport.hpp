#pragma once

// The reader view controller against fakes: a host that records what the
// widgets are told, fake web views (FakeBridgePort) whose page requests the
// test answers, a manual clock and captured log lines.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Appearance/ThemeCatalog.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Json/JSONValue.hpp"
#include "Platform/Log.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Reader/RecordingOwner.hpp"
#include "Support/FakeBridgePort.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"
#include "Reader/PasteboardService.hpp"

namespace larkspin::test {

// A spare web view: its page is the test's FakeBridgePort.
class FakeSpare final : public SpareWebView {
public:
    std::shared_ptr<ReaderBridgePort> bridgePort() override { return port; }
    void setEvents(std::weak_ptr<ReaderHostEvents> e) override { events = std::move(e); }
    void loadEntryPage(std::string_view) override { ++loads; }
    void stopLoading() override { stopped = true; }

    std::shared_ptr<FakeBridgePort> port = std::make_shared<FakeBridgePort>();
    std::weak_ptr<ReaderHostEvents> events;
    int loads = 0;
    bool stopped = false;
};

// The reader's widgets: what they were told, in order, and a fake page per
// web view.

class FakeHost final : public ReaderHost {
public:
    void setEvents(std::weak_ptr<ReaderHostEvents> e) override { events = std::move(e); }
    void showRendererMissing(const std::string& text) override { missingText = text; }
    std::shared_ptr<ReaderBridgePort> installWebView(std::shared_ptr<AppResourceSchemeHandler>,
                                                     std::shared_ptr<DocumentResourceSchemeHandler>,
                                                     const std::optional<ColorComponents>&) override {
        return ports.emplace_back(std::make_shared<FakeBridgePort>());
    }
    void adoptWebView(std::shared_ptr<SpareWebView> spare, const std::optional<ColorComponents>&) override {
        ports.push_back(std::static_pointer_cast<FakeSpare>(spare)->port);
        log.push_back("adopt");
    }
    void loadEntryPage(std::string_view url) override { log.push_back("load " + std::string(url)); }
    void stopLoading() override { log.push_back("stop"); }
    void discardWebView() override { log.push_back("discard"); }
    void setUnderPageColor(const ColorComponents& color) override { underPage = color; }
    void focusPage() override { log.push_back("focus"); }
    std::string underPageColorDescription() const override { return "colour"; }
    void showStatus(const DocumentStatusContent& content, const Theme&, std::function<void()> onAction) override {
        log.push_back("status " + content.title);
        statusAction = std::move(onAction);
    }
    void hideStatus() override { log.push_back("hideStatus"); }
    void applyTheme(const Theme& theme) override { log.push_back("theme " + std::string(rawValue(theme.id))); }
    void showBanner(const std::string& message, const std::string&, std::function<void()>, std::function<void()>) override {
        log.push_back("banner " + message);
    }
    void hideBanner() override { log.push_back("hideBanner"); }
    // The page's answer to a script: `pageScript`'s result or what it throws;
    // without one the host has no web view to ask.
    Task<std::optional<std::string>> runPageScript(std::string body) override {
        if (!pageScript) return ReaderHost::runPageScript(std::move(body));
        scripts.push_back(std::move(body));
        return answerScript(pageScript);
    }
    static Task<std::optional<std::string>> answerScript(std::function<std::optional<std::string>()> answer) {
        co_return answer();
    }

    std::weak_ptr<ReaderHostEvents> events;
    std::function<std::optional<std::string>()> pageScript;
    std::vector<std::string> scripts;
    std::vector<std::shared_ptr<FakeBridgePort>> ports;
    std::optional<std::string> missingText;
    std::optional<ColorComponents> underPage;
    std::vector<std::string> log;
    std::function<void()> statusAction;
};

class RecordingPasteboard final : public PasteboardService::Pasteboard {
public:
    void clearContents() override {}
    bool setString(const std::string& text) override { return strings.push_back(text), true; }
    std::vector<std::string> strings;
};

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppLog::setRevealPrivateForTesting(true);
        reader = makeReader();
    }
    void TearDown() override {
        reader.reset();
        MainThread::drainForTesting();
        AppLog::setRevealPrivateForTesting(std::nullopt);
    }

    std::shared_ptr<ReaderViewController> makeReader(bool withRenderer = true,
                                                     std::shared_ptr<WebViewPrewarmer> prewarmer = nullptr) {
        ReaderViewController::Dependencies dependencies;
        dependencies.host = host;
        ReaderEnvironment& environment = dependencies.environment;
        environment.clock = &clock;
        environment.rendererFiles = rendererFiles(withRenderer);
        environment.imageWorkers = workers;
        environment.preferredLocalizations = [] { return std::vector<std::string>{"en"}; };
        environment.currentTheme = [] { return ThemeCatalog::theme(ThemeID::porcelain); };
        environment.pasteboard = &pasteboardService;
        environment.prewarmer = std::move(prewarmer);
        dependencies.owner = owner;
        auto made = ReaderViewController::create("DOC", std::move(dependencies));
        owner->reader = made;
        return made;
    }
    std::shared_ptr<AppResourceSchemeHandler> rendererFiles(bool present) {
        return present ? AppResourceSchemeHandler::create(dir.path(), workers) : nullptr;
    }
    // A prewarmer on the test's clock whose spares are FakeSpares.
    std::shared_ptr<WebViewPrewarmer> makePrewarmer(bool enabled = true, bool withRenderer = true) {
        WebViewPrewarmer::Dependencies parts;
        parts.clock = &clock;
        parts.rendererFiles = rendererFiles(withRenderer);
        parts.imageWorkers = workers;
        parts.makeWebView = [this](auto, auto) { return spares.emplace_back(std::make_shared<FakeSpare>()); };
        return WebViewPrewarmer::create(enabled, std::move(parts));
    }
    // The newest spare's page says "ready" and, when `warm`, answers the
    // prewarmer's probe (its worker has warmed up).
    void spareSaysReady(bool warm = true) {
        FakeBridgePort& port = *spares.back()->port;
        const bool attached = port.handlers.contains("orvik");
        port.post(event("ready"));
        MainThread::drainForTesting();
        if (!warm || !attached || !runMainLoopUntil([&] { return !port.calls.empty(); })) return;
        answerSpareProbe();
    }
    // Answers the newest spare's probe, when it is its last request.
    void answerSpareProbe() {
        FakeBridgePort& port = *spares.back()->port;
        const std::size_t probe = port.calls.size() - 1;
        if (port.calls.empty() || port.request(probe).type != "probe") return;
        answered.insert({&port, probe});
        port.answer(probe, R"({"protocolVersion":1,"messageID":")" + port.request(probe).messageID +
                               R"(","viewSessionID":"","documentID":"","sourceRevision":0,)"
                               R"("renderGeneration":0,"type":"capabilities","payload":{"isSecureContext":true,)"
                               R"("cryptoSubtle":true,"moduleWorker":true,"dynamicImport":true,)"
                               R"("cspBlockedInlineScript":true,"userAgent":"UA"}})");
        MainThread::drainForTesting();
    }

    FakeBridgePort& page() { return *host->ports.back(); }
    // The page's web process ends.
    void terminate() {
        host->events.lock()->webViewProcessDidTerminate("crashed");
        MainThread::drainForTesting();
    }
    std::string event(const std::string& type, const std::string& payload = "{}") {
        const std::string session = type == "ready" ? "" : reader->bridge()->viewSessionID();
        return R"({"protocolVersion":1,"messageID":"E","viewSessionID":")" + session +
               R"(","documentID":"DOC","sourceRevision":0,"renderGeneration":0,"type":")" + type +
               R"(","payload":)" + payload + "}";
    }
    void post(const std::string& type, const std::string& payload = "{}") { page().post(event(type, payload)); }

    // Runs the main loop until the page has been sent `count` requests.
    void waitForCalls(std::size_t count) {
        ASSERT_TRUE(runMainLoopUntil([&] { return page().calls.size() >= count; }))
            << "requests so far: " << ::testing::PrintToString(sent());
        MainThread::drainForTesting();
    }
    std::vector<std::string> sent() {
        std::vector<std::string> types;
        for (std::size_t i = 0; i < page().calls.size(); ++i) types.push_back(page().request(i).type);
        return types;
    }
    JSONValue payloadOf(std::size_t index) { return page().request(index).payload; }

    // Answers request `index` with `type` and `payload` (JSON text).
    void answer(std::size_t index, const std::string& type, const std::string& payload) {
        answered.insert({&page(), index});
        page().answer(index, R"({"protocolVersion":1,"messageID":")" + page().request(index).messageID +
                                 R"(","viewSessionID":"","documentID":"","sourceRevision":0,)" +
                                 R"("renderGeneration":1,"type":")" + type + R"(","payload":)" + payload + "}");
        MainThread::drainForTesting();
    }
    // The page's usual answer to request `index`.
    void answerUsual(std::size_t index) {
        const BridgeEnvelope request = page().request(index);
        const std::string echo = request.payload.serialized();
        const std::map<std::string, std::pair<std::string, std::string>> usual{
            {"probe", {"capabilities", R"({"isSecureContext":true,"cryptoSubtle":true,"moduleWorker":true,)"
                                       R"("dynamicImport":true,"cspBlockedInlineScript":true,"userAgent":"UA"})"}},
            {"setAccessibility", {"accessibilityApplied", echo}},
            {"setTheme", {"themeApplied", R"({"themeID":"porcelain","appliedCount":31,"themeRevision":)" +
                                              (request.type == "setTheme"
                                                   ? request.payload.objectValue()->at("themeRevision").serialized()
                                                   : "0") + "}"}},
            {"setBackground", {"backgroundApplied", R"J({"pageBackground":"#fff","computedBackground":"rgb(255, 255, 255)","computedColorScheme":"light"})J"}},
            {"setTypography", {"typographyApplied", typographyReply()}},
            {"setViewportInsets", {"viewportInsetsApplied", R"({"top":32,"bottom":0,"originOffset":0})"}},
            {"render", {"rendered", renderedReply}},
            {"captureAnchor", {"anchor", anchorReply}},
        };
        const auto found = usual.find(request.type);
        ASSERT_NE(found, usual.end()) << "no usual answer to " << request.type;
        answer(index, found->second.first, found->second.second);
    }
    // Answers every open request the usual way, also those the answers
    // lead to, until none is left.
    void answerAll() {
        MainThread::drainForTesting();
        for (std::size_t i = 0; i < page().calls.size(); ++i) {
            if (!answered.contains({&page(), i})) answerUsual(i);
        }
    }
    static std::string typographyReply(std::string rejected = "[]") {
        return R"({"fontSizePx":16,"widthPreset":"comfortable","lineHeightPreset":"standard",)"
               R"("proseWidthRem":42,"lineHeight":1.7,"bodyFamily":"","monoFamily":"","headingFamily":"",)"
               R"("fontWeight":400,"headingWeight":650,"rejected":)" + rejected + "}";
    }
    // Loads the view, posts "ready" and answers the handshake.
    void becomeReady() {
        if (!reader->bridge()) reader->loadView();
        post("ready");
        answerAll();
    }

    LogCapture logs;
    ManualClock clock;
    std::shared_ptr<ResourceWorkers> workers = std::make_shared<PooledResourceWorkers>("test", 1);
    TempDir dir;
    std::shared_ptr<FakeHost> host = std::make_shared<FakeHost>();
    std::shared_ptr<RecordingOwner> owner = std::make_shared<RecordingOwner>();
    std::shared_ptr<RecordingPasteboard> pasteboard = std::make_shared<RecordingPasteboard>();
    PasteboardService pasteboardService{pasteboard};
    std::shared_ptr<ReaderViewController> reader;
    std::vector<std::shared_ptr<FakeSpare>> spares;
    std::set<std::pair<const FakeBridgePort*, std::size_t>> answered;
    std::string renderedReply = R"({"headings":[{"level":1,"text":"Title","id":"title"}],"renderGeneration":1})";
    std::string anchorReply = "{}";
};

}  // namespace larkspin::test
