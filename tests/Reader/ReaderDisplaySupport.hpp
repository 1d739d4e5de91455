#pragma once

// A reader view controller over the real ReaderView and renderer page in a
// WebKitGTK web view under Xvfb, as display tests drive it: a web context of
// the test's own, the network sent to a local sink, and bounded waits.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <nlohmann/json.hpp>

#include <source_location>
#include <stdexcept>

#include "Appearance/ThemeCatalog.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Reader/Widgets/ReaderView.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Reader/RecordingOwner.hpp"
#include "Reader/Widgets/ReaderWebViewFactory.hpp"
#include "Support/Display/NetworkSink.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"
#include "Reader/PasteboardService.hpp"

namespace larkspin::test {

// A pasteboard that keeps nothing: display tests never reach the desktop's.
class NullPasteboard final : public PasteboardService::Pasteboard {
public:
    void clearContents() override {}
    bool setString(const std::string&) override { return true; }
};

class ReaderDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppLog::setRevealPrivateForTesting(true);
        sink.routeDefaultNetworkSession();
    }
    void TearDown() override {
        if (window) gtk_window_destroy(window);
        reader.reset();
        view.reset();
        prewarmer.reset();
        MainThread::drainForTesting();
        AppLog::setRevealPrivateForTesting(std::nullopt);
    }

    // What every reader of these tests is given: the system clock, the
    // renderer's files, English, the porcelain theme and the pasteboard that
    // keeps nothing.
    void fillEnvironment(ReaderEnvironment& environment) {
        environment.clock = &Clock::system();
        environment.rendererFiles = rendererFiles;
        environment.imageWorkers = imageWorkers;
        environment.preferredLocalizations = [] { return std::vector<std::string>{"en"}; };
        environment.currentTheme = [] { return ThemeCatalog::theme(ThemeID::porcelain); };
        environment.pasteboard = &pasteboardService;
    }
    void makeReader(std::shared_ptr<DiagramRenderService> diagrams = nullptr) {
        ReaderViewController::Dependencies dependencies;
        dependencies.host = view;
        ReaderEnvironment& environment = dependencies.environment;
        fillEnvironment(environment);
        environment.diagramService = std::move(diagrams);
        environment.prewarmer = prewarmer;
        dependencies.owner = owner;
        reader = ReaderViewController::create("DOC-1", std::move(dependencies));
        owner->reader = reader;
    }
    // Shows `above` (when given) over the reader in a window of 900×700.
    void show(GtkWidget* above = nullptr) {
        window = GTK_WINDOW(gtk_window_new());
        gtk_window_set_default_size(window, 900, 700);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        if (above) gtk_box_append(GTK_BOX(box), above);
        gtk_box_append(GTK_BOX(box), view->widget());
        gtk_window_set_child(window, box);
        gtk_window_present(window);
    }
    // Renders `text` (making the reader and loading its view first) and
    // waits for the reply; without one the test ends here (the exception),
    // not at the first use of what the reply would have brought.
    void render(const std::string& text, std::source_location location = std::source_location::current()) {
        if (!reader) makeReader();
        reader->loadView();
        const std::size_t before = rendered.size();
        reader->render(text);
        if (!waitFor([&] { return rendered.size() > before; }, webTimeout, location)) {
            throw std::runtime_error("no rendered reply at " + waits::where(location));
        }
    }
    // The task's value, or its error rethrown; a task that does not end
    // within the bound fails the test (the exception ends it). It is waited
    // for even after another wait of the test ran out: a task left running
    // would outlive the test's objects it uses.
    template <typename T>
    T await(Task<T> task, std::source_location location = std::source_location::current()) {
        auto outcome = startTask(std::move(task));
        if (!detail::turnUntil([&] { return outcome->finished; }, webTimeout)) {
            waits::ranOut(webTimeout, location);
            throw std::runtime_error("the awaited task did not end within the time-out at " + waits::where(location));
        }
        if (outcome->error) std::rethrow_exception(outcome->error);
        return std::move(*outcome->value);
    }
    nlohmann::json script(const std::string& body) {
        const ScriptOutcome outcome = callScript(view->webView(), body);
        EXPECT_TRUE(outcome.ok) << outcome.error;
        return nlohmann::json::parse(outcome.json, nullptr, false);
    }

    LogCapture logs;
    NetworkSink sink;
    WebViewHarness harness;
    TempDir dir;
    std::shared_ptr<ResourceWorkers> imageWorkers = std::make_shared<PooledResourceWorkers>("test.images", 2);
    std::shared_ptr<AppResourceSchemeHandler> rendererFiles =
        AppResourceSchemeHandler::createForRenderer(std::make_shared<PooledResourceWorkers>("test.renderer", 1));
    std::shared_ptr<NullPasteboard> pasteboard = std::make_shared<NullPasteboard>();
    PasteboardService pasteboardService{pasteboard};
    std::unique_ptr<ReaderWebViewFactory> factory = std::make_unique<ReaderWebViewFactory>(harness.context(), std::vector<ReaderContextMenu::WindowItem>{});
    std::shared_ptr<ReaderView> view = std::make_shared<ReaderView>(*factory);
    std::shared_ptr<WebViewPrewarmer> prewarmer;
    std::shared_ptr<RecordingOwner> owner = std::make_shared<RecordingOwner>();
    std::shared_ptr<ReaderViewController> reader;
    std::vector<std::vector<BridgeHeading>>& rendered = owner->rendered;
    GtkWindow* window = nullptr;
};

}  // namespace larkspin::test
