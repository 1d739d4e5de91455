#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "Platform/Files/PathLock.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;

TEST(PathLock, ALinkAndItsTargetShareOneKey) {
    test::TempDir dir;
    const auto file = dir.write("real/notes.md", "x");
    fs::create_directory_symlink(dir / "real", dir / "alias");
    fs::create_symlink(file, dir / "link.md");
    const auto key = PathLock::canonicalKey(file);
    EXPECT_EQ(PathLock::canonicalKey(dir / "link.md"), key);
    EXPECT_EQ(PathLock::canonicalKey(dir / "alias" / "notes.md"), key);
    EXPECT_EQ(PathLock::canonicalKey(dir / "alias" / "." / "new.md"), key.parent_path() / "new.md");
}

TEST(PathLock, WritersExcludeEveryoneWhateverNameTheyUse) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "x");
    fs::create_symlink(file, dir / "link.md");
    std::atomic<int> readers{0};
    std::atomic<int> writers{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            const auto path = (t % 2 == 0) ? file : dir / "link.md";
            for (int i = 0; i < 300; ++i) {
                if ((i + t) % 3 == 0) {
                    const PathLock lock(path, PathLock::Mode::exclusive);
                    if (writers.fetch_add(1) != 0 || readers.load() != 0) overlap = true;
                    std::this_thread::yield();
                    writers.fetch_sub(1);
                } else {
                    const PathLock lock(path, PathLock::Mode::shared);
                    readers.fetch_add(1);
                    if (writers.load() != 0) overlap = true;
                    std::this_thread::yield();
                    readers.fetch_sub(1);
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(overlap);
}

}  // namespace
}  // namespace larkspin
