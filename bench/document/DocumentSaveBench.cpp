// A document's own saving work, from the main thread's request to the moment
// its result is back on the main thread.
//
//   BM_WriteFsync/20MiB        the floor (as in bench/SaveBench.cpp): a new
//                              file, 20 MiB written, fsync'ed, closed
//   BM_DraftFlush/1MiB         after an edit of a 1 MiB text (not timed),
//                              DraftScheduler's flush: snapshot, draft made, JSON written
//                              atomically on the draft writer, back on the
//                              main thread
//   BM_SavePipeline/20MiB      after an edit of a 20 MiB text (not timed),
//                              SavePipeline's plain save: decision, snapshot, encoding, the
//                              file store's verified atomic save over the
//                              expected version, the outcome applied
//
// Files live under the system's temporary folder.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "Document/Drafts/DraftScheduler.hpp"
#include "Document/Saving/SavePipeline.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "SaveBenchFiles.hpp"
#include "Storage/DocumentLoader.hpp"

namespace {

using namespace larkspin;
namespace fs = std::filesystem;

using bench::Folder;
using bench::kMiB;
using bench::textBytes;
using bench::writeAndSync;

constexpr const char* kFolderPrefix = "larkspin-document-bench";

void turnUntil(const bool& done) {
    for (int i = 0; i < 100000 && !done; ++i) MainThread::turnMainLoop(std::chrono::milliseconds(5));
    if (!done) throw std::runtime_error("did not finish");
}

class BenchDocument final : public SaveClient, public DraftClient {
public:
    DocumentModel& model() override { return model_; }
    std::optional<fs::path> fileURL() const override { return file; }
    std::string logID() const override { return "bench"; }
    std::string displayName() const override { return "bench.md"; }
    void setExternalIssue(ExternalIssue) override {}
    void clearExternalIssue(ExternalIssueKinds) override {}
    void documentDidSave(const fs::path&, SaveOperation, const DiskVersion&) override {}
    void resolveDraft(RecoveryDraft::Resolution) override {}
    void restartDraft() override {}
    void scheduleDraftIfNeeded() override {}
    void saveDidEnd() override {}

    std::optional<fs::path> file;

private:
    DocumentModel model_;
};

void BM_WriteFsync(benchmark::State& state) { bench::writeFsyncFloor(state, kFolderPrefix); }
BENCHMARK(BM_WriteFsync)->Name("BM_WriteFsync/20MiB")->UseRealTime()->Unit(benchmark::kMillisecond);

Task<void> flushOnce(DraftScheduler* drafts, bool* done) {
    co_await drafts->flush();
    *done = true;
}

void BM_DraftFlush(benchmark::State& state) {
    Folder folder(kFolderPrefix);
    const std::string texts[2] = {textBytes(kMiB, 1), textBytes(kMiB, 2)};
    BenchDocument document;
    document.model().adopt(DocumentLoader::load(std::string(texts[1])));
    DraftScheduler drafts(document, folder.path / "Recovery", Clock::system(), std::make_shared<DraftWriter>());
    TaskScope scope;
    std::size_t next = 0;
    for (auto _ : state) {
        state.PauseTiming();  // the edit is the user's, not the save's
        document.model().replaceAll(texts[next]);
        state.ResumeTiming();
        bool done = false;
        scope.spawn(flushOnce(&drafts, &done));
        turnUntil(done);
        next ^= 1;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kMiB));
}
BENCHMARK(BM_DraftFlush)->Name("BM_DraftFlush/1MiB")->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_SavePipeline(benchmark::State& state) {
    Folder folder(kFolderPrefix);
    const std::string texts[2] = {textBytes(20 * kMiB, 1), textBytes(20 * kMiB, 2)};
    const auto file = folder.path / "document.md";
    writeAndSync(file, texts[1]);
    BenchDocument document;
    document.file = file;
    document.model().adopt(DocumentLoader::load(file));
    SavePipeline pipeline(document, std::make_shared<FileStore>());
    std::size_t next = 0;
    for (auto _ : state) {
        state.PauseTiming();  // the edit is the user's, not the save's
        document.model().replaceAll(texts[next]);
        state.ResumeTiming();
        bool done = false;
        std::optional<SaveError> error;
        pipeline.save(file, SaveOperation::save, [&](std::optional<SaveError> e) {
            error = std::move(e);
            done = true;
        });
        turnUntil(done);
        if (error) {
            state.SkipWithError(error->description().c_str());
            break;
        }
        next ^= 1;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 20 * kMiB));
}
BENCHMARK(BM_SavePipeline)->Name("BM_SavePipeline/20MiB")->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    larkspin::MainThread::initialize();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
