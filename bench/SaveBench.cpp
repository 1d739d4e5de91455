// Saving and watching documents.
//
//   BM_WriteFsync/20MiB   the floor: a new file, 20 MiB written, fsync'ed, closed
//   BM_Save/1MiB, /20MiB  a verified atomic save of 1 or 20 MiB over the file it
//                         expects (conflict test, temporary file, fsync, rename,
//                         folder fsync, read-back), the file resting in between
//   BM_Save/20MiB/justChanged  the same, each save right after the last one (the
//                         store re-reads the file for the conflict test either
//                         way; the pair shows whether a resting file is cheaper)
//   BM_ExternalChangeToVerdict/inPlace        another program rewrites the file
//   BM_ExternalChangeToVerdict/atomicReplace  another program renames a new file over it
//                         time from the change to the stabiliser's stable verdict on
//                         the main thread (real clock); "beyond_settle_ms" is what
//                         is left after the stabiliser's own settle time (two reads
//                         150 ms apart after the last event)
//   BM_WatchCost/1, /20   threads and descriptors that 1 or 20 open documents
//                         add (each a file-change observer with its presenter
//                         and a file store that has saved once), counted in
//                         /proc/self/task and /proc/self/fd after every file
//                         changed once and every verdict arrived; not a timing
//
// Files live under the system's temporary folder: run it on the disk whose
// figures you want.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <glib.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Model/DiskVersion.hpp"
#include "Platform/Async/MainThread.hpp"
#include "SaveBenchFiles.hpp"
#include "Storage/ContentStabilizer.hpp"
#include "Storage/FileChangeObserver.hpp"
#include "Storage/FileStore.hpp"

namespace {

using namespace larkspin;
namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

using bench::Folder;
using bench::kMiB;
using bench::textBytes;
using bench::writeAndSync;

constexpr const char* kFolderPrefix = "larkspin-save-bench";

void BM_WriteFsync(benchmark::State& state) { bench::writeFsyncFloor(state, kFolderPrefix); }
BENCHMARK(BM_WriteFsync)->Name("BM_WriteFsync/20MiB")->UseRealTime()->Unit(benchmark::kMillisecond);

void saveLoop(benchmark::State& state, std::size_t size, bool rested) {
    Folder folder(kFolderPrefix);
    const std::string contents[2] = {textBytes(size, 1), textBytes(size, 2)};
    const auto file = folder.path / "document.md";
    writeAndSync(file, contents[1]);
    FileStore store;
    DiskVersion expected = DiskVersion::read(file);
    std::size_t next = 0;
    for (auto _ : state) {
        // The caller's encoded bytes are its own cost, not the store's. A
        // document is usually saved over a file that has rested since it was
        // last written (see BM_Save/20MiB/justChanged for one that has not).
        state.PauseTiming();
        if (rested) std::this_thread::sleep_for(std::chrono::milliseconds(150));
        SaveRequest request{.url = file, .data = contents[next], .expectedDiskVersion = expected};
        state.ResumeTiming();
        const SaveOutcome outcome = store.saveAndWait(std::move(request));
        if (!outcome.asSaved()) {
            state.SkipWithError(outcome.description().c_str());
            break;
        }
        expected = outcome.asSaved()->version;
        next ^= 1;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
// Real time: the save runs on the store's queue, not the benchmark's thread.
void BM_Save(benchmark::State& state) { saveLoop(state, 20 * kMiB, true); }
void BM_SaveSmall(benchmark::State& state) { saveLoop(state, kMiB, true); }
void BM_SaveJustChanged(benchmark::State& state) { saveLoop(state, 20 * kMiB, false); }
BENCHMARK(BM_SaveSmall)->Name("BM_Save/1MiB")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save)->Name("BM_Save/20MiB")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveJustChanged)
    ->Name("BM_Save/20MiB/justChanged")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Turns the main loop until `done` holds or `limit` has passed.
bool turnMainLoopUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    while (!done()) {
        if (SteadyClock::now() > deadline) return false;
        MainThread::turnMainLoop(std::chrono::milliseconds(1));
    }
    return true;
}

void externalChangeToVerdict(benchmark::State& state, bool atomicReplace) {
    MainThread::initialize();  // the benchmark thread runs the main loop
    Folder folder(kFolderPrefix);
    const auto file = folder.path / "watched.md";
    writeAndSync(file, textBytes(64 * 1024, 0));
    auto latest = std::make_shared<std::string>();
    FileChangeObserver observer(
        file, false, [](const FileChangeEvent&) {},
        [latest](const ContentStabilizer::Outcome& outcome) {
            if (const auto* version = outcome.stableVersion()) *latest = version->contentDigest;
        });
    observer.drainForTesting();  // the watch starts in the background
    double beyondSettle = 0;
    unsigned round = 1;
    for (auto _ : state) {
        const std::string bytes = textBytes(64 * 1024, ++round);
        const std::string digest = DiskVersion::digest(bytes);
        const auto started = SteadyClock::now();
        if (atomicReplace) {
            const auto fresh = folder.path / ".watched.md.new";
            writeAndSync(fresh, bytes);
            fs::rename(fresh, file);
        } else {
            const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd < 0 ||
                ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
                state.SkipWithError("rewrite failed");
                break;
            }
            ::close(fd);
        }
        if (!turnMainLoopUntil([&] { return *latest == digest; }, std::chrono::seconds(5))) {
            state.SkipWithError("no verdict within 5 s");
            break;
        }
        const std::chrono::duration<double> elapsed = SteadyClock::now() - started;
        state.SetIterationTime(elapsed.count());
        beyondSettle +=
            elapsed.count() * 1000.0 -
            2 * std::chrono::duration<double, std::milli>(ContentStabilizer::settleDelay).count();
    }
    observer.stop();
    turnMainLoopUntil([] { return MainThread::pendingCount() == 0; }, std::chrono::seconds(1));
    if (state.iterations() > 0) {
        state.counters["beyond_settle_ms"] = beyondSettle / static_cast<double>(state.iterations());
    }
}

void BM_ExternalChangeInPlace(benchmark::State& state) {
    externalChangeToVerdict(state, false);
}
BENCHMARK(BM_ExternalChangeInPlace)
    ->Name("BM_ExternalChangeToVerdict/inPlace")
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

void BM_ExternalChangeAtomicReplace(benchmark::State& state) {
    externalChangeToVerdict(state, true);
}
BENCHMARK(BM_ExternalChangeAtomicReplace)
    ->Name("BM_ExternalChangeToVerdict/atomicReplace")
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

// Entries of a /proc folder: threads in task/, descriptors in fd/.
std::int64_t entriesOf(const char* folder) {
    std::int64_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++count;
    }
    return count;
}

void BM_WatchCost(benchmark::State& state) {
    MainThread::initialize();
    const auto files = static_cast<std::size_t>(state.range(0));
    Folder folder(kFolderPrefix);
    std::vector<fs::path> paths;
    for (std::size_t i = 0; i < files; ++i) {
        paths.push_back(folder.path / ("doc" + std::to_string(i) + ".md"));
        writeAndSync(paths.back(), textBytes(4096, static_cast<unsigned>(i)));
    }
    const std::int64_t threadsBefore = entriesOf("/proc/self/task");
    const std::int64_t fdsBefore = entriesOf("/proc/self/fd");

    struct Document {
        std::unique_ptr<FileChangeObserver> observer;
        FileStore store;
        std::shared_ptr<int> verdicts = std::make_shared<int>(0);
    };
    std::vector<std::unique_ptr<Document>> documents;
    for (auto _ : state) {
        for (const auto& path : paths) {
            auto document = std::make_unique<Document>();
            document->observer = std::make_unique<FileChangeObserver>(
                path, true, [](const FileChangeEvent&) {},
                [verdicts = document->verdicts](const ContentStabilizer::Outcome&) { ++*verdicts; });
            documents.push_back(std::move(document));
        }
        for (const auto& d : documents) d->observer->drainForTesting();  // watching now
        // Each store saves once, from a thread of its own (as the document's
        // synchronous path would), then every file changes once more.
        for (std::size_t i = 0; i < files; ++i) {
            std::thread saver([&, i] {
                documents[i]->store.saveAndWait(SaveRequest{.url = paths[i], .data = "saved\n"});
            });
            saver.join();
        }
        for (const auto& path : paths) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            if (fd >= 0) {
                if (::write(fd, "x", 1) != 1) state.SkipWithError("append failed");
                ::close(fd);
            }
        }
        const bool settled = turnMainLoopUntil(
            [&] {
                for (const auto& d : documents)
                    if (*d->verdicts == 0) return false;
                return true;
            },
            std::chrono::seconds(20));
        if (!settled) state.SkipWithError("no verdict within 20 s");
    }
    state.counters["threads_added"] =
        static_cast<double>(entriesOf("/proc/self/task") - threadsBefore);
    state.counters["fds_added"] = static_cast<double>(entriesOf("/proc/self/fd") - fdsBefore);
    for (auto& d : documents) d->observer->stop();
    documents.clear();
    turnMainLoopUntil([] { return MainThread::pendingCount() == 0; }, std::chrono::seconds(1));
}
BENCHMARK(BM_WatchCost)->Name("BM_WatchCost")->Arg(1)->Arg(20)->Iterations(1);

}  // namespace
