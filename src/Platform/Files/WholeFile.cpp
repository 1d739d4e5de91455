#include "Platform/Files/WholeFile.hpp"

#include <algorithm>
#include <cerrno>
#include <limits>

#include "Platform/Files/FileReader.hpp"

namespace larkspin::WholeFile {

namespace {

// Thrown out of the sink (and of FileReader::read) when the file is larger
// than the caller takes.
struct TooLarge {};

class StringSink final : public FileReader::Sink {
public:
    explicit StringSink(std::uint64_t maximumSize) : maximumSize_(maximumSize) {}

    void begin(const struct stat& status) override {
        const auto size = static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0));
        if (size > maximumSize_) throw TooLarge{};
        bytes.clear();
        bytes.reserve(static_cast<std::size_t>(size));
    }
    std::span<char> nextBuffer() override {
        used_ = bytes.size();
        const std::size_t room = std::max<std::size_t>(bytes.capacity() - used_, 64 * 1024);
        bytes.resize(used_ + room);
        return {bytes.data() + used_, room};
    }
    void didRead(std::span<const char> chunk) override {
        if (used_ + chunk.size() > maximumSize_) throw TooLarge{};
        bytes.resize(used_ + chunk.size());
    }

    // The bytes read so far, followed by the room of the last nextBuffer()
    // until didRead() trims it.
    std::string bytes;

private:
    std::uint64_t maximumSize_;
    std::size_t used_ = 0;
};

}  // namespace

std::expected<std::string, std::error_code> readAtMost(const std::filesystem::path& path,
                                                       std::uint64_t maximumSize,
                                                       const SysCalls& sys) {
    StringSink sink(maximumSize);
    std::expected<FileReader::Result, std::error_code> result;
    try {
        result = FileReader::read(path, sink, sys);
    } catch (const TooLarge&) {
        return std::unexpected(std::error_code(EFBIG, std::generic_category()));
    }
    if (!result) return std::unexpected(result.error());
    sink.bytes.resize(static_cast<std::size_t>(result->bytesRead));  // drop the unused room
    return std::move(sink.bytes);
}

std::expected<std::string, std::error_code> read(const std::filesystem::path& path,
                                                 const SysCalls& sys) {
    return readAtMost(path, std::numeric_limits<std::uint64_t>::max(), sys);
}

}  // namespace larkspin::WholeFile
