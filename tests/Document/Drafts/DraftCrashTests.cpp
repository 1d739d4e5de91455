// A typing and saving process (tests/Helpers/DraftCrashHelper.cpp) is killed
// at random moments; what the launch restore would read back must hold every
// text it reported drafted or saved, each whole.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Helpers/DraftCrashText.hpp"
#include "Storage/RecoveryStore.hpp"
#include "Support/TempDir.hpp"

extern char** environ;

namespace larkspin {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

struct HelperRun {
    pid_t pid = -1;
    int output = -1;
    std::string lines;
};

HelperRun start(const fs::path& folder, unsigned seed) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const std::string helper = LARKSPIN_DRAFT_CRASH_HELPER;
    const std::string folderArg = folder.string();
    const std::string seedArg = std::to_string(seed);
    char* argv[] = {const_cast<char*>(helper.c_str()), const_cast<char*>(folderArg.c_str()),
                    const_cast<char*>(seedArg.c_str()), nullptr};
    HelperRun run;
    if (posix_spawn(&run.pid, helper.c_str(), &actions, nullptr, argv, environ) != 0) run.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    run.output = pipeFds[0];
    return run;
}

// Reads what the helper wrote until `until` (or it closed its output).
void readUntil(HelperRun& run, SteadyClock::time_point until) {
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now());
        if (left.count() <= 0) return;
        struct pollfd ready = {run.output, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left.count())) != 1) return;
        const ssize_t n = ::read(run.output, buffer, sizeof buffer);
        if (n <= 0) return;
        run.lines.append(buffer, static_cast<std::size_t>(n));
    }
}

// The highest k of the complete lines of `kinds`.
std::optional<std::int64_t> lastReported(const std::string& lines, std::string_view kinds) {
    std::optional<std::int64_t> last;
    std::istringstream in(lines);
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof() || line.size() < 3 || kinds.find(line[0]) == std::string_view::npos) continue;
        const std::int64_t k = std::stoll(line.substr(2));
        last = std::max(last.value_or(k), k);
    }
    return last;
}

// What launch recovery gets back: the file's text and every unresolved
// draft's; each must be one whole text. Returns the newest.
std::int64_t newestRecovered(const fs::path& folder) {
    std::vector<std::string> texts{test::readFile(folder / "doc.md")};
    for (const auto& draft : RecoveryStore::allDrafts(folder / "Recovery"))
        if (!draft.isResolved() && draft.content) texts.push_back(*draft.content);
    std::int64_t newest = -1;
    for (const auto& text : texts) {
        const auto k = crashTextNumber(text);
        EXPECT_TRUE(k.has_value()) << "a cut or mixed text of " << text.size() << " bytes";
        if (k) newest = std::max(newest, *k);
    }
    return newest;
}

void removeTemporaries(const fs::path& folder) {
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().filename().string().ends_with(".tmp")) fs::remove(entry.path());
}

TEST(DraftCrashConsistency, AKilledDocumentLosesNothingItReportedDraftedOrSaved) {
    const auto seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    test::TempDir dir;
    int rounds = 0;
    int draftedRounds = 0;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const fs::path folder = dir / ("round" + std::to_string(round));
        fs::create_directory(folder);
        dir.write("round" + std::to_string(round) + "/doc.md", crashText(0));

        HelperRun run = start(folder, random());
        ASSERT_GT(run.pid, 0);
        const auto lifetime = std::chrono::milliseconds(100 + random() % 1400);
        readUntil(run, SteadyClock::now() + lifetime);
        ::kill(run.pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(run.pid, &status, 0), run.pid);
        readUntil(run, SteadyClock::now() + std::chrono::milliseconds(200));
        ::close(run.output);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the helper ended on its own: " << status << "\n" << run.lines;

        const auto reported = lastReported(run.lines, "DS");
        const auto recovered = newestRecovered(folder);
        EXPECT_GE(recovered, reported.value_or(0)) << "a reported text was lost";
        EXPECT_LE(recovered, lastReported(run.lines, "T").value_or(0) + 1);
        ++rounds;
        if (reported) ++draftedRounds;
        removeTemporaries(folder);
    }
    RecordProperty("roundsWithADraftOrSave", draftedRounds);
    EXPECT_EQ(rounds, 20);
}

TEST(DraftCrashConsistency, TerminationFlushesEveryTypedText) {
    const auto seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    test::TempDir dir;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const fs::path folder = dir / ("round" + std::to_string(round));
        fs::create_directory(folder);
        dir.write("round" + std::to_string(round) + "/doc.md", crashText(0));

        HelperRun run = start(folder, random());
        ASSERT_GT(run.pid, 0);
        // Ended once a draft is on disk and more text was typed after it: the
        // flush must write what the draft does not hold yet.
        const auto limit = SteadyClock::now() + std::chrono::seconds(20);
        auto typedAfterADraft = [&] {
            const auto draft = run.lines.rfind("\nD ");
            return draft != std::string::npos && run.lines.find("\nT ", draft + 1) != std::string::npos;
        };
        while (!typedAfterADraft() && SteadyClock::now() < limit)
            readUntil(run, SteadyClock::now() + std::chrono::milliseconds(20));
        ASSERT_TRUE(typedAfterADraft()) << "no draft within 20 s:\n" << run.lines;
        readUntil(run, SteadyClock::now() + std::chrono::milliseconds(random() % 100));
        ::kill(run.pid, SIGTERM);
        readUntil(run, SteadyClock::now() + std::chrono::seconds(10));  // until it closes its output
        int status = 0;
        ASSERT_EQ(::waitpid(run.pid, &status, 0), run.pid);
        ::close(run.output);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << run.lines;

        const auto flushed = lastReported(run.lines, "F");
        ASSERT_TRUE(flushed) << run.lines;
        EXPECT_EQ(*flushed, lastReported(run.lines, "T").value_or(0));
        EXPECT_EQ(newestRecovered(folder), *flushed) << "typed text lost at termination";
    }
}

}  // namespace
}  // namespace larkspin
