// The reader's lifecycle in figures. Run by hand under Xvfb, from a build with
// benchmarks:
//
//   export GDK_BACKEND=x11 GDK_DEBUG=gl-disable LIBGL_ALWAYS_SOFTWARE=1
//   xvfb-run -a -s "-screen 0 1280x1024x24" <build>/bench/reader/larkspin_lifecycle_bench
//
// Options: --repeat N (runs of each timing, 5 unless told); --only memory
// (the memory figures alone).
//
// - open: from creating a reader to its first screen (FirstScreen.hpp) for
//   a 100 KiB document in a shown 1024×768 window, with a ready spare from
//   the prewarmer and without (cold). Each run has a web context of its
//   own, so nothing else is warm. Goal: the spare at most half the cold time.
// - memory: the proportional set size (smaps_rollup), and the private part
//   of it (USS, which other programs on the machine do not move), of the
//   program and all its descendant processes (web, network, sandbox) with 1 and with 10
//   documents of 100 KiB opened one after the other as tabs are, in the
//   working set's default configuration (3 live web views, a spare), each
//   measured in a fresh child process once its releases have settled.
//   Against the floor: one reader without a spare, and a plain web view
//   (WebKitWebView, nothing else) showing that reader's rendered page as
//   static HTML with the style sheet inlined, each the whole process tree of
//   a fresh child, and each one's web process alone.
//   Each child measures twice: 3 s after its last render ("rendered"), and
//   once the page has ended its idle parse worker ("idle", the page's
//   IDLE_WORKER_MS and a few seconds more), which is how a reader that is
//   being read lives.
//   Goals: one reader at most 1.2 times the plain web view, 10 documents at
//   most 2 times one.
// - rebuild: a reader scrolled half-way gives its web view back; from its
//   rebuild (with the spare, as configured by default, and cold) to the
//   first frame after the page restored the reading position.
// Figures are medians.

#include <adwaita.h>
#include <gtk/gtk.h>
#include <stdlib.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "App/ApplicationServices.hpp"
#include "Platform/TestHost.hpp"
#include "BenchPreferences.hpp"
#include "FirstScreen.hpp"
#include "GeneratedDocument.hpp"
#include "BenchReaderOwner.hpp"
#include "ReaderBenchSupport.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"
#include "Protocol/Schemes/RendererDirectory.hpp"
#include "Reader/Widgets/ReaderView.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Reader/Widgets/ReaderWebViewFactory.hpp"
#include "Reader/WebViewPrewarmer.hpp"
#include "Reader/WebViewWorkingSet.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/MainLoop.hpp"
#include "BenchSetup.hpp"

namespace larkspin::bench {
namespace {

// One reader in a view, as a document window holds it.
struct Tab final : WebViewWorkingSetMember {
    std::shared_ptr<ReaderView> view;
    std::shared_ptr<BenchReaderOwner> owner = std::make_shared<BenchReaderOwner>();
    std::shared_ptr<ReaderViewController> reader;
    const int& rendered = owner->rendered;

    Tab(ApplicationServices& services, std::string id)
        : view(std::make_shared<ReaderView>(services.webViewFactory())) {
        ReaderViewController::Dependencies dependencies;
        dependencies.host = view;
        dependencies.environment = services.readerEnvironment();
        dependencies.owner = owner;
        reader = ReaderViewController::create(std::move(id), std::move(dependencies));
        owner->reader = reader;
    }

    std::string readerDocumentID() const override { return reader->documentID(); }
    bool readerHasWebView() const override { return reader->hasWebView(); }
    bool isSelectedInWindow() const override { return reader->isWindowActive(); }
    bool isEditing() const override { return false; }
    Task<bool> releaseReader() override { return reader->releaseWebView(); }
    bool rebuildReader() override { return reader->ensureWebView(); }

    bool renderAndWait(const std::string& text) {
        const int before = rendered;
        reader->render(text);
        return test::waitFor([&] { return rendered > before; }, std::chrono::minutes(3));
    }
};

template <typename T>
std::optional<T> awaitTask(Task<T> task) {
    auto outcome = test::startTask(std::move(task));
    test::waitFor([&] { return outcome->finished; });
    if (!outcome->finished || outcome->error) return std::nullopt;
    return *outcome->value;
}

// ---- open: spare against cold ----------------------------------------------

struct OpenSample {
    double firstScreen = -1;
    double renderSent = -1;  // from the start to the render request
    double rendered = -1;    // from the start to the "rendered" reply
};

std::optional<OpenSample> openOnce(bool withSpare) {
    WebKitWebContext* context = webkit_web_context_new();
    std::optional<OpenSample> result;
    {
        bench::BenchPreferences preferences;
        ApplicationServices services(preferences.defaults(), preferences.notifications(), {context, withSpare});
        services.webViewFactory().addStartScript(firstScreenProbe);
        auto prewarmer = withSpare ? services.prewarmer() : nullptr;
        if (!prewarmer || spareReady(*prewarmer)) {
            const double start = nowMs();
            const auto steadyStart = Clock::system().now();
            Tab tab(services, "BENCH");
            GtkWindow* window = presentWindow(tab.view->widget());
            tab.reader->loadView();
            if (tab.renderAndWait(document100k())) {
                if (const auto stamp = firstScreenOf(tab.view->webView())) {
                    const auto since = [&](const FirstScreenMarks::Instant& mark) {
                        return mark ? std::chrono::duration<double, std::milli>(*mark - steadyStart).count()
                                    : -1.0;
                    };
                    const auto marks = tab.reader->diagnostics().firstScreenMarks;
                    result = OpenSample{*stamp - start, since(marks.renderSentAt),
                                        since(marks.renderedReceivedAt)};
                }
            }
            gtk_window_destroy(window);
        }
        prewarmer.reset();
        MainThread::drainForTesting();
    }
    g_object_unref(context);
    return result;
}

// ---- rebuild of a released reader ------------------------------------------

std::optional<double> rebuildOnce(bool withSpare) {
    WebKitWebContext* context = webkit_web_context_new();
    std::optional<double> result;
    {
        bench::BenchPreferences preferences;
        ApplicationServices services(preferences.defaults(), preferences.notifications(), {context, withSpare});
        auto prewarmer = withSpare ? services.prewarmer() : nullptr;
        Tab tab(services, "BENCH");
        GtkWindow* window = presentWindow(tab.view->widget());
        tab.reader->loadView();
        bool ready = tab.renderAndWait(document100k());
        test::callScript(tab.view->webView(),
                         "const root = document.scrollingElement;"
                         "root.scrollTop = (root.scrollHeight - innerHeight) / 2; return 0;");
        const auto anchor = awaitTask(tab.reader->captureReadingAnchor());
        ready = ready && anchor && *anchor && awaitTask(tab.reader->releaseWebView()).value_or(false);
        if (ready && (!prewarmer || spareReady(*prewarmer))) {
            const double start = nowMs();
            tab.reader->ensureWebView();
            if (test::waitFor([&] { return tab.reader->lastAnchorRestored().has_value(); },
                              std::chrono::minutes(3))) {
                if (const auto frame = nextFrameOf(tab.view->webView())) result = *frame - start;
            }
        }
        gtk_window_destroy(window);
        prewarmer.reset();
        MainThread::drainForTesting();
    }
    g_object_unref(context);
    return result;
}

// ---- memory ----------------------------------------------------------------

// A process's memory from /proc/<pid>/smaps_rollup, in KiB (0 when
// unreadable): its proportional set size, and what is its own alone
// (private pages, the USS). PSS shares a library's pages among every process
// on the machine that maps them, so it moves with what else runs (other
// WebKit programs: tens of MiB here); the private part does not.
struct Footprint {
    long pss = 0;
    long uss = 0;
    Footprint& operator+=(const Footprint& other) {
        pss += other.pss;
        uss += other.uss;
        return *this;
    }
};

Footprint footprintOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    Footprint footprint;
    const auto value = [&](const char* key) {
        return line.rfind(key, 0) == 0 ? std::stol(line.substr(std::strlen(key))) : 0L;
    };
    while (std::getline(in, line)) {
        footprint.pss += value("Pss:");
        footprint.uss += value("Private_Clean:") + value("Private_Dirty:");
    }
    return footprint;
}

// This process and all its descendants.
std::vector<pid_t> processTree() {
    std::map<pid_t, std::vector<pid_t>> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        char state;
        pid_t parent;
        if (rest >> state >> parent) children[parent].push_back(std::stoi(name));
    }
    std::vector<pid_t> tree{getpid()};
    for (std::size_t i = 0; i < tree.size(); ++i) {
        for (pid_t child : children[tree[i]]) tree.push_back(child);
    }
    return tree;
}

// The largest web process in `tree` (the one showing the page).
Footprint webProcessOf(const std::vector<pid_t>& tree) {
    Footprint largest;
    for (pid_t pid : tree) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        std::getline(in, name);
        if (name.rfind("WebKitWebProces", 0) != 0) continue;
        const Footprint web = footprintOf(pid);
        if (web.pss > largest.pss) largest = web;
    }
    return largest;
}

// The page ends a parse worker idle for this long (IDLE_WORKER_MS in
// renderer/src/page/parser.js); "idle" is measured a few seconds after it.
constexpr double pageIdleWorkerMs = 60000;
constexpr double idleMeasureMs = pageIdleWorkerMs + 5000;

struct Sample {
    Footprint tree;  // the program and all its processes
    Footprint web;   // its largest web process
};

// The tree's memory once `waitMs` have passed since `since` (nowMs()).
Sample measureAt(double since, double waitMs, std::size_t& processes) {
    const double until = since + waitMs;
    test::waitFor([&] { return nowMs() >= until; }, std::chrono::milliseconds(static_cast<long>(waitMs) + 10000));
    Sample sample;
    const auto tree = processTree();
    for (pid_t pid : tree) sample.tree += footprintOf(pid);
    sample.web = webProcessOf(tree);
    processes = tree.size();
    return sample;
}

// What a child prints: "processes <n> live <n> rendered <pss> <web pss>
// <uss> <web uss> idle <the same four>", 3 s after `since` and once the
// page's idle worker has ended.
void measureAndPrint(double since, int live) {
    std::size_t processes = 0, idleProcesses = 0;
    const Sample rendered = measureAt(since, 3000, processes);
    const Sample idle = measureAt(since, idleMeasureMs, idleProcesses);
    std::printf("processes %zu live %d rendered %ld %ld %ld %ld idle %ld %ld %ld %ld\n", processes, live,
                rendered.tree.pss, rendered.web.pss, rendered.tree.uss, rendered.web.uss, idle.tree.pss,
                idle.web.pss, idle.tree.uss, idle.web.uss);
}

// Child mode: a plain web view showing the static page in `pagePath`.
int measurePlainMemory(const char* pagePath) {
    std::ifstream in(pagePath);
    std::stringstream page;
    page << in.rdbuf();
    auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new());
    GtkWindow* window = presentWindow(GTK_WIDGET(view));
    bool loaded = false;
    g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer done) {
        if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(done) = true;
    }), &loaded);
    webkit_web_view_load_html(view, page.str().c_str(), "about:blank");
    if (!test::waitFor([&] { return loaded; }, std::chrono::minutes(1))) return 1;
    measureAndPrint(nowMs(), 1);
    gtk_window_destroy(window);
    return 0;
}

// A static page of a reader's rendered content: its root style (the theme's
// properties), the style sheet inlined, no script.
std::optional<std::string> staticPageOf(WebKitWebView* view) {
    const auto page = test::callScript(
        view, "return [document.documentElement.getAttribute('style') || '',"
              " document.getElementById('content').outerHTML];");
    if (!page.ok) return std::nullopt;
    const auto parts = nlohmann::json::parse(page.json);
    const auto dist = RendererDirectory::locate();
    if (!dist) return std::nullopt;
    std::ifstream cssFile(*dist / "renderer.css");
    std::stringstream css;
    css << cssFile.rdbuf();
    return "<!DOCTYPE html><html style=\"" + parts[0].get<std::string>() +
           "\"><head><meta charset=\"utf-8\"><style>" + css.str() + "</style></head><body>" +
           parts[1].get<std::string>() + "</body></html>";
}

// Child mode: opens `count` documents, settles, prints "pss <KiB> processes
// <n> live <n> web <KiB>"; with `pageOut`, writes the first reader's page
// there as static HTML.
int measureMemory(int count, bool withSpare, const char* pageOut) {
    ApplicationServices::Options options;
    options.prewarm = withSpare;
    bench::BenchPreferences preferences;
    ApplicationServices services(preferences.defaults(), preferences.notifications(), options);
    const auto& prewarmer = services.prewarmer();
    const auto& workingSet = services.workingSet();
    if (withSpare) services.startPrewarming();  // as the application does once it has launched
    GtkWidget* holder = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWindow* window = presentWindow(holder);
    std::vector<std::shared_ptr<Tab>> tabs;
    for (int i = 0; i < count; ++i) {
        auto tab = std::make_shared<Tab>(services, "DOC-" + std::to_string(i));
        for (const auto& other : tabs) {
            other->reader->setWindowActive(false);
            if (gtk_widget_get_parent(other->view->widget())) gtk_box_remove(GTK_BOX(holder), other->view->widget());
        }
        gtk_box_append(GTK_BOX(holder), tab->view->widget());
        tab->reader->loadView();
        workingSet->registerMember(tab);
        workingSet->activate(tab, true);  // the new tab is key
        if (!tab->renderAndWait(document100k())) {
            std::fprintf(stderr, "memory: document %d did not render\n", i);
            return 1;
        }
        tabs.push_back(tab);
    }
    // Releases and the restocked spare settle; then a few quiet seconds.
    test::waitFor([&] {
        return MainThread::pendingCount() == 0 &&
               (!prewarmer || prewarmer->state() != WebViewPrewarmer::State::loading);
    });
    const double settled = nowMs();
    if (pageOut) {
        const auto page = staticPageOf(tabs.front()->view->webView());
        if (!page) return 1;
        std::ofstream(pageOut) << *page;
    }
    int live = 0;
    for (const auto& tab : tabs) live += tab->reader->hasWebView();
    measureAndPrint(settled, live);
    gtk_window_destroy(window);
    return 0;
}

struct Memory {
    Sample rendered;
    Sample idle;  // once the page's idle parse worker has ended
    std::string detail;
};

// Runs this program as a child: `mode` and its argument (--memory N,
// --memory-alone N, --plain-memory <page>), with --page-out <page> when given.
Memory memoryOf(const char* self, const char* mode, const std::string& argument,
                const char* pageOut = nullptr) {
    Memory memory;
    std::vector<char*> argv{const_cast<char*>(self), const_cast<char*>(mode),
                            const_cast<char*>(argument.c_str())};
    if (pageOut) {
        argv.push_back(const_cast<char*>("--page-out"));
        argv.push_back(const_cast<char*>(pageOut));
    }
    argv.push_back(nullptr);
    gchar* out = nullptr;
    gint status = 0;
    if (g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out, nullptr,
                     &status, nullptr) &&
        g_spawn_check_wait_status(status, nullptr)) {
        long processes = 0, live = 0;
        Sample& a = memory.rendered;
        Sample& b = memory.idle;
        if (std::sscanf(out, "processes %ld live %ld rendered %ld %ld %ld %ld idle %ld %ld %ld %ld", &processes,
                        &live, &a.tree.pss, &a.web.pss, &a.tree.uss, &a.web.uss, &b.tree.pss, &b.web.pss,
                        &b.tree.uss, &b.web.uss) == 10) {
            memory.detail = std::to_string(processes) + " processes, " + std::to_string(live) +
                            " live web views";
        }
    }
    g_free(out);
    return memory;
}

}  // namespace
}  // namespace larkspin::bench

int main(int argc, char** argv) {
    using namespace larkspin;
    using namespace larkspin::bench;
    const auto options = readOptions(argc, argv, 5);
    const int repeat = options.repeat;
    const bool memoryOnly = options.only == "memory";
    int memoryCount = 0;  // --memory N: the child that opens N documents
    bool memoryWithSpare = true;  // --memory-alone N: the same without a spare
    const char* pageOut = nullptr;  // --page-out <file>: the first reader's page as static HTML
    const char* plainPage = nullptr;  // --plain-memory <file>: the child with a plain web view
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--memory") == 0) memoryCount = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--memory-alone") == 0) {
            memoryCount = std::atoi(argv[++i]);
            memoryWithSpare = false;
        } else if (std::strcmp(argv[i], "--page-out") == 0) pageOut = argv[++i];
        else if (std::strcmp(argv[i], "--plain-memory") == 0) plainPage = argv[++i];
    }
    // The product's defaults, whatever the user's own preferences say.
    char config[] = "/tmp/larkspin-bench-XXXXXX";
    if (!mkdtemp(config)) return 1;
    setenv("XDG_CONFIG_HOME", config, 1);
    unsetenv(testHostVariable);
    if (!startOnDisplay("lifecycle")) return 2;
    test::WebViewHarness harness;  // turns WebKit's sandbox off only where it cannot start
    int result = 0;
    if (plainPage) {
        result = measurePlainMemory(plainPage);
    } else if (memoryCount > 0) {
        result = measureMemory(memoryCount, memoryWithSpare, pageOut);
    } else {
        std::vector<double> spare, cold, rebuildSpare, rebuildCold;
        std::vector<double> spareSent, coldSent, spareRendered, coldRendered;
        for (int round = 0; round < (memoryOnly ? 0 : repeat); ++round) {
            std::fprintf(stderr, "round %d/%d\n", round + 1, repeat);
            if (auto sample = openOnce(false)) {
                cold.push_back(sample->firstScreen);
                coldSent.push_back(sample->renderSent);
                coldRendered.push_back(sample->rendered);
            }
            if (auto sample = openOnce(true)) {
                spare.push_back(sample->firstScreen);
                spareSent.push_back(sample->renderSent);
                spareRendered.push_back(sample->rendered);
            }
            if (auto ms = rebuildOnce(true)) rebuildSpare.push_back(*ms);
            if (auto ms = rebuildOnce(false)) rebuildCold.push_back(*ms);
        }
        const std::string page = std::string(config) + "/page.html";
        const Memory alone = memoryOf(argv[0], "--memory-alone", "1", page.c_str());
        const Memory plain = memoryOf(argv[0], "--plain-memory", page);
        const Memory one = memoryOf(argv[0], "--memory", "1");
        const Memory ten = memoryOf(argv[0], "--memory", "10");
        const double openRatio = median(spare) / median(cold);
        const auto ratio = [](long part, long whole) { return whole > 0 ? static_cast<double>(part) / whole : 0.0; };
        std::printf("\nReader lifecycle, 100 KiB documents, %d×%d window, medians of %d runs\n\n",
                    windowWidth, windowHeight, repeat);
        if (!memoryOnly) {
            std::printf("open to first screen     cold %8s   with a ready spare %8s   (%.2f×)\n",
                        formatMs(median(cold)).c_str(), formatMs(median(spare)).c_str(), openRatio);
            std::printf("  (render sent at        cold %8s   with a ready spare %8s)\n",
                        formatMs(median(coldSent)).c_str(), formatMs(median(spareSent)).c_str());
            std::printf("  (rendered at           cold %8s   with a ready spare %8s)\n",
                        formatMs(median(coldRendered)).c_str(), formatMs(median(spareRendered)).c_str());
            std::printf("rebuild at its position  cold %8s   with a ready spare %8s\n",
                        formatMs(median(rebuildCold)).c_str(), formatMs(median(rebuildSpare)).c_str());
        }
        const auto verdict = [](double value, double goal) { return value > 0 && value <= goal ? "met" : "MISSED"; };
        // Each figure just rendered / idle (its parse worker ended).
        std::printf("memory of all processes, just rendered / idle, MiB   PSS | private (USS)\n");
        for (const auto& [label, memory] : {std::pair<const char*, const Memory*>{"1 document", &one},
                                            {"10 documents", &ten},
                                            {"one reader, no spare", &alone},
                                            {"plain web view, same page", &plain}}) {
            std::printf("  %-26s %7.1f / %7.1f | %7.1f / %7.1f   web process %.1f / %.1f | %.1f / %.1f   (%s)\n",
                        label, memory->rendered.tree.pss / 1024.0, memory->idle.tree.pss / 1024.0,
                        memory->rendered.tree.uss / 1024.0, memory->idle.tree.uss / 1024.0,
                        memory->rendered.web.pss / 1024.0, memory->idle.web.pss / 1024.0,
                        memory->rendered.web.uss / 1024.0, memory->idle.web.uss / 1024.0, memory->detail.c_str());
        }
        const auto ratios = [&](const char* label, const Memory& part, const Memory& whole, double goal) {
            const double values[4] = {ratio(part.rendered.tree.pss, whole.rendered.tree.pss),
                                      ratio(part.idle.tree.pss, whole.idle.tree.pss),
                                      ratio(part.rendered.tree.uss, whole.rendered.tree.uss),
                                      ratio(part.idle.tree.uss, whole.idle.tree.uss)};
            std::printf("  %-26s %.2f× / %.2f× | %.2f× / %.2f×   web process %.2f× / %.2f× | %.2f× / %.2f×"
                        "   goal ≤ %.1f: %s / %s | %s / %s\n",
                        label, values[0], values[1], values[2], values[3],
                        ratio(part.rendered.web.pss, whole.rendered.web.pss), ratio(part.idle.web.pss, whole.idle.web.pss),
                        ratio(part.rendered.web.uss, whole.rendered.web.uss), ratio(part.idle.web.uss, whole.idle.web.uss),
                        goal, verdict(values[0], goal), verdict(values[1], goal), verdict(values[2], goal),
                        verdict(values[3], goal));
        };
        ratios("10 documents / 1", ten, one, 2);
        ratios("one reader / plain view", alone, plain, 1.2);
        if (!memoryOnly) {
            std::printf("\nGoal\n  [%s] open with a spare at most 0.5× the cold open\n", verdict(openRatio, 0.5));
        }
    }
    std::filesystem::remove_all(config);
    return result;
}
