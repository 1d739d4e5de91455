#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace larkspin {

// Recognises PNG, JPEG, GIF and WebP data by their first bytes and reads the
// pixel size of the first image from the headers alone: nothing is decoded,
// and nothing beyond the given bytes is ever read. Free of state; any thread.
namespace ImageHeaderReader {

enum class Format { png, jpeg, gif, webp };

struct PixelSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// The format whose signature the first 12 bytes carry; none for fewer than
// 12 bytes or an unknown signature.
std::optional<Format> sniff(std::string_view bytes);

// "image/png", "image/jpeg", "image/gif" or "image/webp".
std::string_view mimeType(Format format);

// The width and height of the first image, both at least 1, or none when the
// data is not one of the four formats or its headers are cut short or
// malformed.
// - PNG: the IHDR chunk that must follow the signature.
// - JPEG: the first start-of-frame segment, walking the marker segments
//   before it (scan data before a frame header gives none).
// - GIF: the logical screen and the first image descriptor; a frame that is
//   larger than the screen widens the result (the decoder's canvas grows).
// - WebP: the "VP8 " key-frame header, the "VP8L" header or the "VP8X" canvas.
std::optional<PixelSize> pixelSize(std::string_view bytes);

}  // namespace ImageHeaderReader

}  // namespace larkspin
