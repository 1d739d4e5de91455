// Opening a 25 MiB Markdown file through the document controller until its
// read-only preview page shows (the file is over the 20 MiB limit: its text
// never reaches the web view), and the process's resident memory afterwards;
// and a 19 MiB text adopted on the main thread (BM_AdoptLargeText).
//
//   xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp"
//       build/release/bench/document/larkspin_document_bench
//
// Counters: rss_MiB (VmRSS after the open, the page still shown),
// rss_growth_MiB (against before the first open), hwm_MiB (VmHWM: the peak).

#include <adwaita.h>
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <stdlib.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "App/ApplicationServices.hpp"
#include "BenchSetup.hpp"
#include "Document/Document.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Storage/DocumentLoader.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/MainLoop.hpp"
#include "Window/Desktop/DesktopDocumentController.hpp"
#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"
#include "Window/Widgets/TabGroups.hpp"

namespace larkspin::bench {
namespace {

double statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) return std::stod(line.substr(prefix.size()));
    }
    return 0;
}

std::filesystem::path writeLargeFile(const std::filesystem::path& folder) {
    const auto path = folder / "large.md";
    std::ofstream out(path, std::ios::binary);
    std::string paragraph = "## Section\n\n";
    for (int i = 0; i < 40; ++i) paragraph += "Some *text* with `code` and a [link](#section) here. ";
    paragraph += "\n\n";
    std::size_t written = 0;
    while (written < 25u * 1024 * 1024) {
        out << paragraph;
        written += paragraph.size();
    }
    return path;
}

void BM_OpenRestrictedPreview(benchmark::State& state) {
    char folder[] = "/tmp/larkspin-document-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const auto file = writeLargeFile(folder);
    test::WebViewHarness harness;
    UserDefaults defaults(std::filesystem::path(folder) / "preferences.json");
    const auto center = NotificationCenter::create();
    ApplicationServices services(defaults, *center, {harness.context(), false});
    const double before = statusKiB("VmRSS");
    double after = 0;
    for (auto _ : state) {
        DesktopDocumentController::Dependencies dependencies;
        dependencies.environment = services.readerEnvironment();
        dependencies.fileManager = FileManagerReveal::systemPort();
        auto controller = DesktopDocumentController::create(services.windowServices(), std::move(dependencies));
        const auto start = std::chrono::steady_clock::now();
        auto opened = test::startTask(controller->openDocument(file, true));
        bool shown = test::waitFor([&] {
            if (!opened->finished || opened->error || !opened->value) return opened->finished;
            auto* document = dynamic_cast<Document*>(opened->value->document.get());
            auto* page = document ? dynamic_cast<DocumentPage*>(document->window()) : nullptr;
            return page && page->readerController()->isStatusShown();
        }, std::chrono::minutes(1));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        if (!shown || opened->error) {
            state.SkipWithError("the preview did not show");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        after = std::max(after, statusKiB("VmRSS"));
        for (TabGroupWindow* group : services.tabGroups().all()) gtk_window_destroy(group->window());
        test::waitFor([&services] { return services.tabGroups().all().empty(); });
        MainThread::drainForTesting();
    }
    state.counters["rss_MiB"] = after / 1024;
    state.counters["rss_growth_MiB"] = (after - before) / 1024;
    state.counters["hwm_MiB"] = statusKiB("VmHWM") / 1024;
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_OpenRestrictedPreview)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// A 19 MiB file's text adopted on the main thread, as a reload adopts it:
// the load (read and decoded on a worker beforehand, not timed) goes into the
// document's model and to its page's reader. The document is opened
// through the controller first, so that its page and reader are the
// program's own; the reader's render of the text goes on meanwhile.
void BM_AdoptLargeText(benchmark::State& state) {
    char folder[] = "/tmp/larkspin-document-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const auto file = std::filesystem::path(folder) / "text.md";
    {
        std::ofstream out(file, std::ios::binary);
        const std::string paragraph = "Some *text* with `code`, 中文 and a [link](#section) here.\n\n";
        for (std::size_t written = 0; written + paragraph.size() < 19u * 1024 * 1024; written += paragraph.size())
            out << paragraph;
    }
    test::WebViewHarness harness;
    UserDefaults defaults(std::filesystem::path(folder) / "preferences.json");
    const auto center = NotificationCenter::create();
    ApplicationServices services(defaults, *center, {harness.context(), false});
    DesktopDocumentController::Dependencies dependencies;
    dependencies.environment = services.readerEnvironment();
    dependencies.fileManager = FileManagerReveal::systemPort();
    auto controller = DesktopDocumentController::create(services.windowServices(), std::move(dependencies));
    auto opened = test::startTask(controller->openDocument(file, true));
    test::waitFor([&] { return opened->finished; }, std::chrono::minutes(1));
    auto* document = opened->value ? dynamic_cast<Document*>(opened->value->document.get()) : nullptr;
    if (!document || !document->reader()) {
        state.SkipWithError("the document did not open");
        return;
    }
    for (auto _ : state) {
        LoadedDocument loaded = DocumentLoader::load(file);
        MainThread::drainForTesting();
        const auto start = std::chrono::steady_clock::now();
        document->adoptReload(std::move(loaded));
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        MainThread::drainForTesting();
    }
    for (TabGroupWindow* group : services.tabGroups().all()) gtk_window_destroy(group->window());
    test::waitFor([&services] { return services.tabGroups().all().empty(); });
    MainThread::drainForTesting();
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_AdoptLargeText)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

}  // namespace
}  // namespace larkspin::bench

int main(int argc, char** argv) {
    char config[] = "/tmp/larkspin-bench-XXXXXX";
    if (!mkdtemp(config)) return 1;
    setenv("XDG_CONFIG_HOME", config, 1);
    if (!larkspin::bench::startOnDisplay("document")) return 2;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
