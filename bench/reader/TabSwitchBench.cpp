// Switching tabs in a group window, in figures. Run by hand under Xvfb, from a
// build with benchmarks:
//
//   export GDK_BACKEND=x11 GDK_DEBUG=gl-disable LIBGL_ALWAYS_SOFTWARE=1
//   xvfb-run -a -s "-screen 0 1280x1024x24" <build>/bench/reader/larkspin_tabswitch_bench
//
// Options: --repeat N (runs of each timing, 5 unless told).
//
// Two tabs of one group window (1024×768), each a 100 KiB document rendered
// by the real reading page and scrolled half-way; the first tab is selected.
// Then the second is selected and the working set activated for it, as the
// window does for its key page:
// - hot: the second tab kept its web view (a working set of 2); to the end of
//   the first frame its web view draws after the switch.
// - released: the working set (of 1) released the second tab's web view when
//   the first was activated; to the end of the first frame after the rebuilt
//   page restored the reading position (the spare, as configured by default,
//   is ready before the switch).
// "drift" is how far (px) the restored scroll position lies from the one
// saved, the largest of the runs. Figures are medians.

#include <adwaita.h>
#include <gtk/gtk.h>
#include <stdlib.h>
#include <webkit/webkit.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Document/Drafts/DraftScheduler.hpp"
#include "Document/FakeDocumentKeeper.hpp"
#include "App/ApplicationServices.hpp"
#include "Platform/TestHost.hpp"
#include "BenchPreferences.hpp"
#include "Document/Document.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "BenchSetup.hpp"
#include "FirstScreen.hpp"
#include "GeneratedDocument.hpp"
#include "ReaderBenchSupport.hpp"
#include "Platform/UserDefaults.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Reader/WebViewPrewarmer.hpp"
#include "Reader/WebViewWorkingSet.hpp"
#include "Reader/Widgets/ReaderView.hpp"
#include "Support/Display/TestPageOwner.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin::bench {
namespace {

// A tab's document and its reader as the working set sees them; local to
// this bench. The page is driven by a real (untitled) document.
struct BenchDocument final : WebViewWorkingSetMember {
    std::shared_ptr<Document> document;
    std::shared_ptr<ReaderView> view;
    std::shared_ptr<ReaderViewController> controller;  // the page's
    std::shared_ptr<test::TestPageOwner> owner = std::make_shared<test::TestPageOwner>();

    BenchDocument() {
        Document::Services documentServices;
        documentServices.draftWriter = std::make_shared<DraftWriter>();
        documentServices.observesFile = false;
        document = Document::create(std::move(documentServices), std::make_shared<test::FakeDocumentKeeper>());
    }
    // The page made over `view` with the services' environment, whose working
    // set is the bench's own.
    std::unique_ptr<DocumentPage> makePage(ApplicationServices& services) {
        view = std::make_shared<ReaderView>(services.webViewFactory());
        ReaderEnvironment environment = services.readerEnvironment();
        environment.workingSet = nullptr;
        auto page = std::make_unique<DocumentPage>(document, view, environment, services.windowServices(),
                                                   ThemeCatalog::theme(ThemeID::porcelain),
                                                   FileManagerReveal::systemPort(), owner);
        controller = page->readerController();
        return page;
    }

    std::string readerDocumentID() const override { return controller->documentID(); }
    bool readerHasWebView() const override { return controller->hasWebView(); }
    bool isSelectedInWindow() const override { return controller->isWindowActive(); }
    bool isEditing() const override { return false; }
    Task<bool> releaseReader() override { return controller->releaseWebView(); }
    bool rebuildReader() override { return controller->ensureWebView(); }

    double scrollTop() {
        const auto outcome = test::callScript(view->webView(), "return document.scrollingElement.scrollTop;");
        return outcome.ok ? std::stod(outcome.json) : -1;
    }
};

// A few turns of the main loop, for what a step left queued.
void settle() {
    for (int turn = 0; turn < 10; ++turn) MainThread::turnMainLoop(std::chrono::milliseconds(10));
}

struct Sample {
    double ms = -1;
    double drift = 0;
};

std::optional<Sample> switchOnce(bool released) {
    WebKitWebContext* context = webkit_web_context_new();
    std::optional<Sample> result;
    {
        bench::BenchPreferences preferences;
        ApplicationServices services(preferences.defaults(), preferences.notifications(), {context, true});
        auto workingSet = WebViewWorkingSet::create(released ? 1 : 2);
        TabGroupWindow& group = TabGroupWindow::create(services.tabGroups(), nullptr, services.sessionChanges());
        GtkWindow* window = group.window();
        gtk_window_set_default_size(window, windowWidth, windowHeight);
        gtk_window_present(window);
        std::vector<std::shared_ptr<BenchDocument>> documents;
        std::vector<AdwTabPage*> tabs;
        std::vector<double> saved;
        bool ready = true;
        for (int made = 0; made < 2; ++made) {
            auto document = std::make_shared<BenchDocument>();
            documents.push_back(document);
            tabs.push_back(group.add(document->makePage(services)));
            document->controller->loadView();
            const int before = document->document->renderCount();
            document->controller->render(document100k());
            ready = ready && test::waitFor([&] { return document->document->renderCount() > before; },
                                           std::chrono::minutes(3));
            test::callScript(document->view->webView(),
                             "const root = document.scrollingElement;"
                             "root.scrollTop = (root.scrollHeight - innerHeight) / 2; return 0;");
            settle();
            saved.push_back(document->scrollTop());
        }
        BenchDocument& second = *documents[1];
        adw_tab_view_set_selected_page(group.tabView(), tabs[0]);
        // The second first, so that the first's registration is the newer.
        workingSet->registerMember(documents[1]);
        workingSet->registerMember(documents[0]);
        workingSet->activate(documents[0], true);
        if (released) {
            ready = ready && test::waitFor([&] { return !second.controller->hasWebView(); });
            ready = ready && services.prewarmer() && spareReady(*services.prewarmer());
        }
        settle();
        if (ready) {
            const double start = nowMs();
            adw_tab_view_set_selected_page(group.tabView(), tabs[1]);
            workingSet->activate(documents[1], true);
            bool shown = true;
            if (released) {
                shown = test::waitFor([&] { return second.controller->lastAnchorRestored().has_value(); },
                                      std::chrono::minutes(3));
            }
            if (shown) {
                if (const auto frame = nextFrameOf(second.view->webView())) {
                    result = Sample{*frame - start, std::abs(second.scrollTop() - saved[1])};
                }
            }
        }
        gtk_window_destroy(window);
        MainThread::drainForTesting();
        workingSet.reset();
        documents.clear();
        MainThread::drainForTesting();
    }
    g_object_unref(context);
    return result;
}

}  // namespace
}  // namespace larkspin::bench

int main(int argc, char** argv) {
    using namespace larkspin;
    using namespace larkspin::bench;
    const BenchOptions options = readOptions(argc, argv, 5);
    // The product's defaults, whatever the user's own preferences say.
    char config[] = "/tmp/larkspin-bench-XXXXXX";
    if (!mkdtemp(config)) return 1;
    setenv("XDG_CONFIG_HOME", config, 1);
    unsetenv(testHostVariable);
    if (!startOnDisplay("tab switch")) return 2;
    test::WebViewHarness harness;  // turns WebKit's sandbox off only where it cannot start
    std::vector<double> hot, released;
    double hotDrift = 0, releasedDrift = 0;
    for (int round = 0; round < options.repeat; ++round) {
        std::fprintf(stderr, "round %d/%d\n", round + 1, options.repeat);
        if (auto sample = switchOnce(false)) {
            hot.push_back(sample->ms);
            hotDrift = std::max(hotDrift, sample->drift);
        }
        if (auto sample = switchOnce(true)) {
            released.push_back(sample->ms);
            releasedDrift = std::max(releasedDrift, sample->drift);
        }
    }
    std::printf("switch to a hot tab       %8s  (%zu runs, drift %.0f px)\n", formatMs(median(hot)).c_str(),
                hot.size(), hotDrift);
    std::printf("switch to a released tab  %8s  (%zu runs, drift %.0f px)\n",
                formatMs(median(released)).c_str(), released.size(), releasedDrift);
    std::filesystem::remove_all(config);
    return hot.empty() || released.empty() ? 1 : 0;
}
