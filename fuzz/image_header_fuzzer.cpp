// Any bytes: the image header reader never reads out of bounds, and a size
// it reports is a real one (both sides at least 1, within what the formats
// can express) of data whose signature it recognises.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Protocol/Schemes/ImageHeaderReader.hpp"

using namespace larkspin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto format = ImageHeaderReader::sniff(bytes);
    const auto pixels = ImageHeaderReader::pixelSize(bytes);
    if (format && ImageHeaderReader::mimeType(*format).substr(0, 6) != "image/") std::abort();
    if (!pixels) return 0;
    if (!format) std::abort();
    if (pixels->width < 1 || pixels->height < 1) std::abort();
    if (pixels->width > 0x7fffffff || pixels->height > 0x7fffffff) std::abort();
    return 0;
}
