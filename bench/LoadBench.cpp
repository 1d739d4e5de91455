// Loading documents from the page cache, against hashing the same bytes.
//
//   BM_Load/utf8/20MiB        a 20 MiB UTF-8 file (the largest that opens in full)
//   BM_Load/utf16le/5MiB      UTF-16 little-endian with its mark
//   BM_Load/latin1/5MiB       bytes that are not UTF-8
//   BM_Load/restricted/64MiB  a file over the limit: digest of all, 1 MiB preview
//   BM_Sha256/20MiB           SHA-256 alone over the 20 MiB file's bytes in memory
//
// Files are made once in a temporary folder; the first iteration's read brings
// them into the page cache. "peak_heap_MiB" is the largest growth of the heap
// (operator new, counted by the replacements below) during one load.
// Large buffers come fresh from the kernel in every iteration (see main).

#include <benchmark/benchmark.h>
#include <glib.h>
#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <string_view>

#include "Model/DocumentTextEncoding.hpp"
#include "Platform/Text/Sha256.hpp"
#include "Storage/DocumentLoader.hpp"

// ---- heap accounting -------------------------------------------------------

namespace {
std::atomic<std::int64_t> heapInUse{0};
std::atomic<std::int64_t> heapPeak{0};

void noteAllocation(void* p) {
    if (p == nullptr) return;
    const auto now = heapInUse.fetch_add(static_cast<std::int64_t>(malloc_usable_size(p))) +
                     static_cast<std::int64_t>(malloc_usable_size(p));
    auto peak = heapPeak.load(std::memory_order_relaxed);
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
    }
}

void noteRelease(void* p) {
    if (p != nullptr) heapInUse.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)));
}

void* allocate(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    noteAllocation(p);
    return p;
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    void* p = nullptr;
    const auto align = std::max(static_cast<std::size_t>(alignment), sizeof(void*));
    if (posix_memalign(&p, align, size == 0 ? 1 : size) != 0) throw std::bad_alloc();
    noteAllocation(p);
    return p;
}

void release(void* p) noexcept {
    noteRelease(p);
    std::free(p);
}
}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return allocateAligned(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return allocateAligned(size, a);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}

// ---- documents -------------------------------------------------------------

namespace {

using namespace larkspin;
namespace fs = std::filesystem;

constexpr std::size_t MiB = 1024 * 1024;

// Markdown as people write it: headings, prose, lists, tables, code, with
// Chinese prose mixed in (about a fifth of the lines).
std::string markdown(std::size_t size) {
    static constexpr std::string_view english[] = {
        "The quick brown fox jumps over the lazy dog while the reader scrolls past.",
        "Markdown keeps *emphasis*, **strong text**, `inline code` and "
        "[links](https://example.org).",
        "Each paragraph wraps at a comfortable width so that diffs stay readable in review.",
        "See the [design notes](docs/notes.md#loading) for how large files are previewed.",
    };
    static constexpr std::string_view chinese[] = {
        "这是一段中文说明，介绍文档加载时的编码检测与换行处理。",
        "大文件只显示前 1 MiB 的预览，并且以只读方式打开。",
        "表格、列表和代码块都按原样保留，渲染时再做排版。",
    };
    std::string out;
    out.reserve(size + 256);
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    int section = 0;
    while (out.size() < size) {
        ++section;
        out += "## Section " + std::to_string(section) + " 第" + std::to_string(section) + "节\n\n";
        for (int p = 0; p < 4; ++p) {
            const int lines = 2 + static_cast<int>(next() % 4);
            for (int l = 0; l < lines; ++l) {
                if (next() % 5 == 0) {
                    out += chinese[next() % std::size(chinese)];
                } else {
                    out += english[next() % std::size(english)];
                }
                out += '\n';
            }
            out += '\n';
        }
        out += "- item one\n- item two with `code`\n- [ ] task 待办\n\n";
        out += "| key | value |\n|-----|-------|\n| size | " + std::to_string(next() % 100000) +
               " |\n\n";
        out += "```cpp\nint main() { return load(\"notes.md\").ok() ? 0 : 1; }\n```\n\n";
    }
    // Cut on a character boundary, then pad with ASCII to the exact size.
    std::size_t cut = size;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    out.append(size - cut, '\n');
    return out;
}

std::string latin1Bytes(std::size_t size) {
    std::string text = markdown(size);
    // Replace each CJK character by an accented Latin-1 letter and pad.
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if ((c & 0xC0) != 0x80) {
            out.push_back(static_cast<char>(0xE9));  // é
        }
    }
    out.resize(size, ' ');
    return out;
}

struct Files {
    fs::path folder;
    std::string utf8Bytes;  // the 20 MiB file's bytes, for BM_Sha256
    fs::path utf8, utf16le, latin1, restricted;

    Files() {
        std::string pattern = (fs::path(g_get_tmp_dir()) / "larkspin-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        folder = pattern;
        utf8Bytes = markdown(20 * MiB);
        utf8 = write("utf8.md", utf8Bytes);
        const auto utf16Text = markdown(5 * MiB / 2);
        auto utf16 = *TextEncodingPolicy::encode(DocumentTextEncoding::utf16LE, utf16Text);
        utf16.resize(5 * MiB, '\0');  // pad with U+0000 units to the exact size
        utf16le = write("utf16le.md", utf16);
        latin1 = write("latin1.md", latin1Bytes(5 * MiB));
        restricted = write("restricted.md", markdown(64 * MiB));
    }
    ~Files() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    fs::path write(const char* name, const std::string& bytes) const {
        const auto path = folder / name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + path.string());
        return path;
    }
};

Files* files = nullptr;

void loadBenchmark(benchmark::State& state, const fs::path& path, std::size_t bytes,
                   DocumentSizeTier expectedTier) {
    double peakGrowth = 0;
    for (auto _ : state) {
        const auto base = heapInUse.load();
        heapPeak.store(base);
        LoadedDocument loaded = DocumentLoader::load(path);
        peakGrowth = std::max(peakGrowth, static_cast<double>(heapPeak.load() - base));
        if (loaded.failure || loaded.tier != expectedTier) {
            state.SkipWithError("unexpected load result");
            break;
        }
        benchmark::DoNotOptimize(loaded);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["peak_heap_MiB"] = peakGrowth / MiB;
}

}  // namespace

int main(int argc, char** argv) {
    // Every large buffer gets fresh pages from the kernel, as on the first
    // load in a session; otherwise malloc raises its mmap threshold after the
    // first 20 MiB buffer is freed and later iterations reuse warm heap
    // memory. LARKSPIN_BENCH_WARM_HEAP=1 measures that steady state instead.
    if (g_getenv("LARKSPIN_BENCH_WARM_HEAP") == nullptr) mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Files made;
    files = &made;

    benchmark::RegisterBenchmark("BM_Load/utf8/20MiB", [](benchmark::State& s) {
        loadBenchmark(s, files->utf8, 20 * MiB, DocumentSizeTier::large);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_Load/utf16le/5MiB", [](benchmark::State& s) {
        loadBenchmark(s, files->utf16le, 5 * MiB, DocumentSizeTier::normal);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_Load/latin1/5MiB", [](benchmark::State& s) {
        loadBenchmark(s, files->latin1, 5 * MiB, DocumentSizeTier::normal);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_Load/restricted/64MiB", [](benchmark::State& s) {
        loadBenchmark(s, files->restricted, 64 * MiB, DocumentSizeTier::restricted);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_Sha256/20MiB", [](benchmark::State& s) {
        for (auto _ : s) benchmark::DoNotOptimize(sha256Hex(files->utf8Bytes));
        s.SetBytesProcessed(static_cast<std::int64_t>(s.iterations() * files->utf8Bytes.size()));
    })->Unit(benchmark::kMillisecond);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    files = nullptr;
    return 0;
}
