// The program's document, typed into and saved until it is killed, for the
// crash tests of drafts and saves (tests/Document/Drafts/DraftCrashTests.cpp
// and the program's tests).
//
//   draft_crash_helper <folder> <seed>
//
// <folder>/doc.md is the document (it must exist); drafts go to
// <folder>/Recovery. Text number k is crashText(k) (see DraftCrashText.hpp).
// Lines on stdout, flushed at once:
//   T k   text k was typed
//   D k   text k is in a draft on disk
//   S k   text k is saved in doc.md
//   F k   SIGTERM: every draft flushed, text k the last typed; then exit 0
// The draft delay runs ten times faster than the program's (200 ms).

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>
#include <stdio.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "Document/Document.hpp"
#include "Document/DocumentUnits.hpp"
#include "Document/Drafts/DraftScheduler.hpp"
#include "Helpers/DraftCrashText.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Storage/DocumentLoader.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;

// The system clock with delays ten times shorter.
class FastClock final : public Clock {
public:
    TimePoint now() const override { return Clock::system().now(); }
    WallTime wallNow() const override { return Clock::system().wallNow(); }

protected:
    void schedule(Duration delay, std::shared_ptr<detail::TimerState> timer) override {
        Clock::system().scheduleAfter(delay / 10, [timer] { timer->fire(); });
    }
};

void report(char what, std::int64_t k) {
    std::printf("%c %lld\n", what, static_cast<long long>(k));
    std::fflush(stdout);
}

// The program's document over doc.md, typed into and saved as a user would;
// what it does is reported from what its keeper hears.
class Typist final : public DocumentKeeper {
public:
    Typist(fs::path file, unsigned seed) : file_(std::move(file)), random_(seed) {}

    void open(std::shared_ptr<Typist> self) {
        Document::Services services;
        services.draftWriter = std::make_shared<DraftWriter>();
        services.clock = &clock_;
        services.observesFile = false;
        services.recoveryStore = std::make_shared<RecoveryStore>(file_.parent_path() / "Recovery");
        document_ = Document::create(std::move(services), std::move(self), file_);
        document_->takeLoad(DocumentLoader::load(file_));
    }

    // ---- DocumentKeeper ----
    void makeWindow(Document&) override {}
    bool mayWatchFile(Document&) override { return true; }
    void documentClosed(Document&) override {}
    void documentFileChanged(Document&) override {}
    void documentStateChanged(Document& document) override {
        DraftScheduler* drafts = document.units().drafts();
        const auto written = drafts ? drafts->lastDraftRevision() : std::nullopt;
        if (written && written != reportedDraft_) {
            reportedDraft_ = written;
            report('D', textOf(*written));
        }
        const std::int64_t saved = document.model().lastSavedRevision();
        if (saved != reportedSave_ && textOf(saved) > 0) {
            reportedSave_ = saved;
            report('S', textOf(saved));
        }
    }
    Task<bool> bringForwardIfOpen(std::shared_ptr<Document>, fs::path) override { return no(); }
    void openLink(Document&, const OpenLinkPayload&) override {}

    void typeBurst() {
        const int keys = 1 + static_cast<int>(random_() % 8);
        for (int i = 0; i < keys; ++i) {
            ++typed_;
            document_->model().replaceAll(crashText(typed_));
            revisionText_[document_->model().sourceRevision()] = typed_;
            report('T', typed_);
        }
        if (random_() % 3 == 0) document_->save([](std::optional<SaveError>) {});
        // Quiet long enough for a draft now and then.
        const auto pause = std::chrono::milliseconds(random_() % 500);
        MainThread::postAfter(Clock::system(), pause, [this] { typeBurst(); });
    }

    // As the program ends on a signal: every draft flushed, documents left
    // open.
    void terminate() {
        MainThread::beginQuitting();
        document_->flushDraftAndWait();
        report('F', typed_);
        std::_Exit(0);
    }

private:
    static Task<bool> no() { co_return false; }
    std::int64_t textOf(std::int64_t revision) const {
        const auto it = revisionText_.find(revision);
        return it == revisionText_.end() ? 0 : it->second;
    }

    fs::path file_;
    std::mt19937 random_;
    FastClock clock_;
    std::int64_t typed_ = 0;
    std::map<std::int64_t, std::int64_t> revisionText_;
    std::optional<std::int64_t> reportedDraft_;
    std::int64_t reportedSave_ = 0;
    std::shared_ptr<Document> document_;
};

gboolean onTerminate(gpointer data) {
    static_cast<Typist*>(data)->terminate();
    return G_SOURCE_REMOVE;
}

}  // namespace
}  // namespace larkspin

int main(int argc, char** argv) {
    using namespace larkspin;
    if (argc != 3) return 2;
    MainThread::initialize();
    auto typist = std::make_shared<Typist>(std::filesystem::path(argv[1]) / "doc.md",
                                           static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
    typist->open(typist);
    g_unix_signal_add(SIGTERM, onTerminate, typist.get());
    MainThread::post([&] { typist->typeBurst(); });
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
