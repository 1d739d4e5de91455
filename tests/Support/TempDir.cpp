#include "Support/TempDir.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "Platform/Async/WorkerPool.hpp"
#include "Support/Threads.hpp"

namespace larkspin::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "larkspin-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    // Stores dropped on the main thread leave their last writes queued, as the
    // program does until quit; they end before their folder goes, or they would
    // recreate it, or fail and log into a later test.
    if (!WorkerPool::isPoolThread()) {
        auto idle = std::make_shared<std::promise<void>>();
        auto done = idle->get_future();
        std::thread([idle] {
            WorkerPool::shared().waitUntilIdle();
            idle->set_value();
        }).detach();
        if (!isReady(done)) std::fprintf(stderr, "queued work still running as %s goes\n", path_.c_str());
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(std::string_view name, std::string_view bytes) const {
    const auto file = path_ / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("write failed: " + file.string());
    return file;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void setModifiedAgo(const std::filesystem::path& path, std::chrono::seconds age) {
    const auto then = std::chrono::system_clock::now() - age;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(then.time_since_epoch());
    const timespec times[2] = {{seconds.count(), 0}, {seconds.count(), 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        throw std::runtime_error("utimensat failed: " + path.string());
    }
}

}  // namespace larkspin::test
