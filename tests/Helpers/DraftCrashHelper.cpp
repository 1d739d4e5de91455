// A document that types and saves until it is killed, for the crash tests of
// drafts and saves (tests/Document/Drafts/DraftCrashTests.cpp).
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

#include "Document/Drafts/DraftScheduler.hpp"
#include "Document/Saving/SavePipeline.hpp"
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

class Typist final : public SaveClient, public DraftClient {
public:
    Typist(fs::path file, unsigned seed)
        : file_(std::move(file)), random_(seed), drafts_(*this, file_.parent_path() / "Recovery", clock_) {
        model_.adopt(DocumentLoader::load(file_));
        model_.onChange = [this](DocumentModel&) { changed(); };
    }

    DocumentModel& model() override { return model_; }
    std::optional<fs::path> fileURL() const override { return file_; }
    std::string logID() const override { return "crash"; }
    std::string displayName() const override { return "doc.md"; }
    void setExternalIssue(ExternalIssue) override {}
    void clearExternalIssue(ExternalIssueKinds) override {}
    void documentDidSave(const fs::path&, SaveOperation, const DiskVersion&) override {
        report('S', textOf(model_.lastSavedRevision()));
    }
    void resolveDraft(RecoveryDraft::Resolution resolution) override { drafts_.resolve(resolution); }
    void restartDraft() override { drafts_.restart(); }
    void scheduleDraftIfNeeded() override { drafts_.scheduleIfNeeded(); }
    void saveDidEnd() override {}

    void typeBurst() {
        const int keys = 1 + static_cast<int>(random_() % 8);
        for (int i = 0; i < keys; ++i) {
            ++typed_;
            model_.replaceAll(crashText(typed_));
            revisionText_[model_.sourceRevision()] = typed_;
            report('T', typed_);
        }
        if (random_() % 3 == 0) saves_.save(file_, SaveOperation::save, nullptr);
        // Quiet long enough for a draft now and then.
        const auto pause = std::chrono::milliseconds(random_() % 500);
        MainThread::postAfter(Clock::system(), pause, [this] { typeBurst(); });
    }

    void terminate() {
        MainThread::beginQuitting();
        DraftScheduler::flushEveryDraftAndWait();
        report('F', typed_);
        std::_Exit(0);
    }

private:
    std::int64_t textOf(std::int64_t revision) const {
        const auto it = revisionText_.find(revision);
        return it == revisionText_.end() ? 0 : it->second;
    }
    void changed() {
        drafts_.scheduleIfNeeded();
        const auto written = drafts_.lastDraftRevision();
        if (written && written != reportedDraft_) {
            reportedDraft_ = written;
            report('D', textOf(*written));
        }
    }

    fs::path file_;
    std::mt19937 random_;
    FastClock clock_;
    DocumentModel model_;
    std::int64_t typed_ = 0;
    std::map<std::int64_t, std::int64_t> revisionText_;
    std::optional<std::int64_t> reportedDraft_;
    SavePipeline saves_{*this, std::make_shared<FileStore>()};
    DraftScheduler drafts_;
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
    auto typist = std::make_unique<Typist>(std::filesystem::path(argv[1]) / "doc.md", static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
    g_unix_signal_add(SIGTERM, onTerminate, typist.get());
    MainThread::post([&] { typist->typeBurst(); });
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
