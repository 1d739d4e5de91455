#include "Platform/Files/WholeFile.hpp"

#include <algorithm>

#include "Platform/Files/FileReader.hpp"

namespace larkspin::WholeFile {

namespace {

class StringSink final : public FileReader::Sink {
public:
    void begin(const struct stat& status) override {
        bytes.clear();
        bytes.reserve(static_cast<std::size_t>(std::max<off_t>(status.st_size, 0)));
    }
    std::span<char> nextBuffer() override {
        used_ = bytes.size();
        const std::size_t room = std::max<std::size_t>(bytes.capacity() - used_, 64 * 1024);
        bytes.resize(used_ + room);
        return {bytes.data() + used_, room};
    }
    void didRead(std::span<const char> chunk) override { bytes.resize(used_ + chunk.size()); }

    // The bytes read so far, followed by the room of the last nextBuffer()
    // until didRead() trims it.
    std::string bytes;

private:
    std::size_t used_ = 0;
};

}  // namespace

std::expected<std::string, std::error_code> read(const std::filesystem::path& path,
                                                 const SysCalls& sys) {
    StringSink sink;
    auto result = FileReader::read(path, sink, sys);
    if (!result) return std::unexpected(result.error());
    sink.bytes.resize(static_cast<std::size_t>(result->bytesRead));  // drop the unused room
    return std::move(sink.bytes);
}

}  // namespace larkspin::WholeFile
