// Another program rewrites a 1 MiB Markdown file; how long until the
// document has adopted the new text. Run by hand, never by the test command:
//
//   build/release/bench/disk/larkspin_disk_bench [iterations]
//
// Three figures per iteration, on the real clock and real inotify:
//   external  the write to the client's adoption, settling included (the
//             stabiliser's two agreeing reads, 150 ms apart, dominate it)
//   reload    reloadFromDisk() to the adoption: the read, hashing and
//             decoding on a worker and the hop back, settling excluded
//   adopt     the main thread's part: the client's adoption into the model
// Medians and the slowest of the runs, in milliseconds.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Document/Disk/DocumentDiskWatch.hpp"
#include "Model/DocumentModel.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Storage/DocumentLoader.hpp"

namespace {

using namespace larkspin;
using Steady = std::chrono::steady_clock;

double ms(Steady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct BenchClient final : DocumentDiskWatch::Client {
    DocumentModel model;
    int adoptions = 0;
    Steady::duration adoptTime{};

    DocumentModel& diskModel() override { return model; }
    ExternalChangePolicy externalChangePolicy() const override { return ExternalChangePolicy::reload; }
    void setExternalIssue(ExternalIssue issue) override {
        std::fprintf(stderr, "unexpected issue %s\n", std::string(rawValue(issue.kind())).c_str());
    }
    void clearExternalIssue(const ExternalIssueKinds&) override {}
    void adoptReload(LoadedDocument loaded) override {
        const auto start = Steady::now();
        model.adopt(std::move(loaded));
        adoptTime = Steady::now() - start;
        ++adoptions;
    }
    void fileDidMove(const std::filesystem::path&) override {}
    void fileReplaced() override {}
    std::string logID() const override { return "bench"; }
    std::string displayName() const override { return "bench.md"; }
};

// About 1 MiB of Markdown; `variant` changes every paragraph's first word.
std::string document(int variant) {
    std::string text;
    text.reserve(1 << 20);
    for (int i = 0; text.size() < (1u << 20) - 200; ++i) {
        text += "## Section " + std::to_string(i) + "\n\nVariant" + std::to_string(variant) +
                " text of the paragraph with *emphasis*, `code` and a [link](other.md).\n\n";
    }
    return text;
}

void rewrite(const std::filesystem::path& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        std::perror("write");
        std::exit(1);
    }
    ::close(fd);
}

bool waitForAdoption(BenchClient& client, int before) {
    const auto limit = Steady::now() + std::chrono::seconds(10);
    while (client.adoptions == before) {
        if (Steady::now() > limit) return false;
        MainThread::turnMainLoop(std::chrono::milliseconds(1));
    }
    return true;
}

void report(const char* name, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("%-9s median %8.2f ms   max %8.2f ms   (n=%zu)\n", name,
                values[values.size() / 2], values.back(), values.size());
}

}  // namespace

int main(int argc, char** argv) {
    MainThread::initialize();
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    char pattern[] = "/tmp/larkspin-disk-bench-XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(pattern);
    const auto file = dir / "bench.md";
    std::ofstream(file, std::ios::binary) << document(0);

    BenchClient client;
    client.model.adopt(DocumentLoader::load(file));
    DocumentDiskWatch watch(client);
    watch.start(file);
    watch.drainForTesting();

    std::vector<double> external, reload, adopt;
    for (int i = 1; i <= iterations; ++i) {
        const std::string bytes = document(i);
        int before = client.adoptions;
        auto start = Steady::now();
        rewrite(file, bytes);
        if (!waitForAdoption(client, before)) return std::fprintf(stderr, "no reload\n"), 1;
        external.push_back(ms(Steady::now() - start));
        adopt.push_back(ms(client.adoptTime));

        before = client.adoptions;
        start = Steady::now();
        watch.reloadFromDisk("bench");
        if (!waitForAdoption(client, before)) return std::fprintf(stderr, "no reload\n"), 1;
        reload.push_back(ms(Steady::now() - start));
        adopt.push_back(ms(client.adoptTime));
    }
    std::printf("1 MiB document (%zu bytes), %d iterations\n", document(0).size(), iterations);
    report("external", external);
    report("reload", reload);
    report("adopt", adopt);
    watch.stop();
    std::filesystem::remove_all(dir);
    return 0;
}
