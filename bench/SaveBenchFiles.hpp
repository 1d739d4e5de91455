#pragma once

// What the saving benchmarks share: a temporary folder of their own, text-like
// bytes of a given size, and the floor every save is measured against (a new
// file written, fsync'ed and closed).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <glib.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace larkspin::bench {

constexpr std::size_t kMiB = 1024 * 1024;

// A new folder under the system's temporary folder, named after `prefix`,
// removed with everything in it.
struct Folder {
    std::filesystem::path path;
    explicit Folder(const std::string& prefix) {
        std::string pattern = (std::filesystem::path(g_get_tmp_dir()) / (prefix + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
};

// Text-like bytes; `seed` makes two contents differ throughout.
inline std::string textBytes(std::size_t size, unsigned seed) {
    std::string out;
    out.reserve(size + 128);
    std::uint32_t state = seed * 2654435761u + 1;
    while (out.size() < size) {
        state = state * 1664525u + 1013904223u;
        out += "Line " + std::to_string(state % 1000000) + " of a long Markdown document，第 " +
               std::to_string(state >> 20) + " 行。\n";
    }
    out.resize(size, '\n');
    return out;
}

// A new file at `path` with `bytes`, fsync'ed and closed.
inline void writeAndSync(const std::filesystem::path& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("open failed");
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) throw std::runtime_error("write failed");
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) throw std::runtime_error("fsync failed");
    ::close(fd);
}

// The floor: 20 MiB written to a new file, fsync'ed, closed (in a folder
// named after `prefix`).
inline void writeFsyncFloor(benchmark::State& state, const std::string& prefix) {
    Folder folder(prefix);
    const std::string bytes = textBytes(20 * kMiB, 1);
    const auto file = folder.path / "floor.md";
    for (auto _ : state) {
        writeAndSync(file, bytes);
        state.PauseTiming();
        std::filesystem::remove(file);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

}  // namespace larkspin::bench
