#include "Storage/DocumentLoader.hpp"

#include <errno.h>
#include <glib.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_set>

#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Files/FileReader.hpp"
#include "Platform/Files/MemoryAdvice.hpp"
#include "Platform/Text/Utf8.hpp"

namespace larkspin {

namespace {

constexpr std::size_t previewBytes = static_cast<std::size_t>(restrictedPreviewBytes);

// Gives `buffer` the size `size` without writing its bytes: read() fills them.
void resizeForOverwrite(std::string& buffer, std::size_t size) {
    buffer.resize_and_overwrite(size, [](char*, std::size_t n) { return n; });
}

LoadedDocument failed(DocumentLoadFailure failure) {
    LoadedDocument document;
    document.failure = std::move(failure);
    return document;
}

// The preview's text with a line break put in wherever a line would run past
// `restrictedPreviewLineBytes`, always before a character (never inside one).
// CR, LF and CRLF end lines, as in a text view.
std::string previewLines(std::string text) {
    std::size_t column = 0;
    bool tooLong = false;
    for (const char c : text) {
        if (c == '\n' || c == '\r') column = 0;
        else if (++column > restrictedPreviewLineBytes) tooLong = true;
    }
    if (!tooLong) return text;
    std::string lines;
    lines.reserve(text.size() + text.size() / restrictedPreviewLineBytes + 1);
    column = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n' || c == '\r') {
            column = 0;
        } else {
            if (column >= restrictedPreviewLineBytes && (byte & 0xC0) != 0x80) {
                lines += '\n';
                column = 0;
            }
            ++column;
        }
        lines += c;
    }
    return lines;
}

bool startsWithUtf16Mark(std::string_view bytes) {
    return bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
}

// Keeps the bytes of a file as they arrive, in the buffer that becomes the
// text, and looks at each chunk while it is still in cache: UTF-8 validity
// and line breaks. A file over the restricted threshold keeps only its
// preview prefix; the rest goes through a small scratch buffer, only to be
// hashed.
class LoadSink final : public FileReader::Sink {
public:
    void begin(const struct stat& status) override {
        total_ = 0;
        used_ = 0;
        validated_ = 0;
        invalidUtf8_ = false;
        countBreaks_ = true;
        counts_ = {};
        std::string().swap(kept_);
        previewOnly_ = status.st_size > restrictedDocumentThreshold;
        // One spare byte, so that the read that meets the end of the file
        // still has room and the buffer never moves for a file that holds
        // still.
        resizeForOverwrite(
            kept_, previewOnly_ ? previewBytes : static_cast<std::size_t>(status.st_size) + 1);
        MemoryAdvice::adviseHugePages(kept_.data(), kept_.size());
    }

    std::span<char> nextBuffer() override {
        if (used_ == kept_.size()) {
            if (previewOnly_) {
                if (!scratch_)
                    scratch_ = std::make_unique_for_overwrite<char[]>(FileReader::chunkSize);
                intoScratch_ = true;
                return {scratch_.get(), FileReader::chunkSize};
            }
            // The file grew while being read: it will be read again, but this
            // read must still reach its end.
            resizeForOverwrite(kept_, std::max(kept_.size() * 2, used_ + FileReader::chunkSize));
        }
        intoScratch_ = false;
        return {kept_.data() + used_, std::min(FileReader::chunkSize, kept_.size() - used_)};
    }

    void didRead(std::span<const char> bytes) override {
        total_ += static_cast<std::int64_t>(bytes.size());
        if (intoScratch_) return;  // beyond the preview: hashed, not kept
        const std::size_t start = used_;
        used_ += bytes.size();
        if (previewOnly_) return;
        if (total_ > restrictedDocumentThreshold) {
            // Grew past the threshold while being read: keep the preview only.
            kept_.resize(previewBytes);
            kept_.shrink_to_fit();
            used_ = previewBytes;
            previewOnly_ = true;
            return;
        }
        examine(start);
    }

    LoadedDocument finish(const FileReader::Result& result) {
        LoadedDocument document;
        document.byteCount = total_;
        document.diskVersion = DiskVersion::fromStatus(result.status, result.contentDigest);
        kept_.resize(used_);
        // Restricted whenever only the preview was kept (a file that shrank
        // back under the limit while it was last read is still restricted:
        // the rest of its bytes are gone).
        if (previewOnly_) {
            auto decoded = TextEncodingPolicy::decode(std::move(kept_), true);
            document.tier = DocumentSizeTier::restricted;
            document.encoding = decoded.encoding;
            document.preview = previewLines(std::move(decoded.text));
            return document;
        }
        document.tier = classifySizeTier(total_);
        const bool validUtf8 = !invalidUtf8_ && validated_ == used_;
        auto decoded = validUtf8 ? TextEncodingPolicy::decodeValidUtf8(std::move(kept_))
                                 : TextEncodingPolicy::decode(std::move(kept_), false);
        // Counting the raw bytes gives the text's counts for UTF-8 and for
        // Latin-1 (which maps CR and LF to themselves and every other byte to
        // bytes that are neither); UTF-16 is counted on its text.
        const bool rawCountsHold = countBreaks_ &&
                                   decoded.encoding != DocumentTextEncoding::utf16LE &&
                                   decoded.encoding != DocumentTextEncoding::utf16BE;
        document.lineEnding =
            rawCountsHold ? counts_.style() : LineEndingPolicy::detect(decoded.text);
        document.encoding = decoded.encoding;
        document.characterCount = utf8::countCharacters(decoded.text);
        document.source = std::move(decoded.text);
        return document;
    }

private:
    void examine(std::size_t start) {
        const std::string_view chunk(kept_.data() + start, used_ - start);
        if (start == 0 && startsWithUtf16Mark(chunk)) countBreaks_ = false;
        if (countBreaks_) {
            LineEndingPolicy::accumulate(counts_, chunk, start > 0 && kept_[start - 1] == '\r');
        }
        if (!invalidUtf8_) {
            validated_ += utf8::validPrefixLength({kept_.data() + validated_, used_ - validated_});
            // Up to three bytes may be a character that the next chunk
            // completes; anything longer is a fault.
            if (used_ - validated_ > 3) invalidUtf8_ = true;
        }
    }

    std::string kept_;
    std::unique_ptr<char[]> scratch_;
    std::size_t used_ = 0;
    std::size_t validated_ = 0;
    std::int64_t total_ = 0;
    bool previewOnly_ = false;
    bool intoScratch_ = false;
    bool invalidUtf8_ = false;
    bool countBreaks_ = true;
    LineEndingPolicy::Counts counts_;
};

// The folders whose leftovers loads have looked for in this process. Listing
// a folder costs time that grows with its entries (tens of milliseconds for
// 100,000), so loads list each folder once per launch; a save tidies beside
// its file again each time (FileStore).
class SweptFolders {
public:
    // True the first time `folder` is asked for.
    bool claim(const std::filesystem::path& folder) {
        std::lock_guard lock(mutex_);
        if (!folders_.insert(folder.native()).second) return false;
        ++scans_;
        return true;
    }

    std::size_t scans() const {
        std::lock_guard lock(mutex_);
        return scans_;
    }

private:
    mutable std::mutex mutex_;
    std::unordered_set<std::string> folders_;
    std::size_t scans_ = 0;
};

SweptFolders& sweptFolders() {
    static auto* folders = new SweptFolders;  // never destroyed: loads may run at exit
    return *folders;
}

// Removes what killed writes left in the folder of the file, unless a load
// already did in this process. The file store writes beside the file a
// symbolic link leads to, so that is where they are.
void removeLeftoverTemporaries(const std::filesystem::path& path) noexcept {
    try {
        std::error_code error;
        auto file = std::filesystem::canonical(path, error);
        if (error) file = std::filesystem::absolute(path, error);
        if (error) file = path;
        auto folder = file.parent_path();
        if (folder.empty()) folder = ".";
        if (sweptFolders().claim(folder)) removeStaleTemporaryFilesIn(folder);
    } catch (const std::exception&) {
        // Only tidying: the load stands either way.
    }
}

}  // namespace

namespace DocumentLoader {

LoadedDocument load(const std::filesystem::path& path, const SysCalls& sys) {
    LoadedDocument document;
    try {
        LoadSink sink;
        const auto result = FileReader::read(path, sink, sys);
        document = result ? sink.finish(*result) : failed(classify(result.error()));
    } catch (const std::exception& error) {
        document = failed(DocumentLoadFailure::readError(error.what()));
    }
    removeLeftoverTemporaries(path);
    return document;
}

LoadedDocument load(std::string data) {
    LoadedDocument document;
    document.byteCount = static_cast<std::int64_t>(data.size());
    document.tier = classifySizeTier(document.byteCount);
    if (document.tier == DocumentSizeTier::restricted) {
        data.resize(previewBytes);
        data.shrink_to_fit();
        auto decoded = TextEncodingPolicy::decode(std::move(data), true);
        document.encoding = decoded.encoding;
        document.preview = previewLines(std::move(decoded.text));
        return document;
    }
    auto decoded = TextEncodingPolicy::decode(std::move(data), false);
    document.lineEnding = LineEndingPolicy::detect(decoded.text);
    document.encoding = decoded.encoding;
    document.characterCount = utf8::countCharacters(decoded.text);
    document.source = std::move(decoded.text);
    return document;
}

std::size_t folderScanCount() { return sweptFolders().scans(); }

DocumentLoadFailure classify(std::error_code error) {
    if (error.category() == std::generic_category() || error.category() == std::system_category()) {
        switch (error.value()) {
            case EPERM:
            case EACCES:
                return DocumentLoadFailure::permissionDenied();
            case ENOENT:
                return DocumentLoadFailure::notFound();
            case EISDIR:
                return DocumentLoadFailure::isDirectory();
            default:
                return DocumentLoadFailure::readError(g_strerror(error.value()));
        }
    }
    return DocumentLoadFailure::readError(error.message());
}

}  // namespace DocumentLoader

}  // namespace larkspin
