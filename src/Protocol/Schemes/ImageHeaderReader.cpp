#include "Protocol/Schemes/ImageHeaderReader.hpp"

#include <algorithm>

namespace larkspin::ImageHeaderReader {

namespace {

constexpr std::string_view pngSignature("\x89PNG\r\n\x1a\n", 8);

// Bounds-checked little readers over the bytes; every read checks first.
class Bytes {
public:
    explicit Bytes(std::string_view data) : data_(data) {}
    std::size_t size() const { return data_.size(); }
    bool has(std::size_t offset, std::size_t count) const {
        return offset <= data_.size() && count <= data_.size() - offset;
    }
    std::uint32_t u8(std::size_t at) const { return static_cast<unsigned char>(data_[at]); }
    std::uint32_t be16(std::size_t at) const { return u8(at) << 8 | u8(at + 1); }
    std::uint32_t le16(std::size_t at) const { return u8(at) | u8(at + 1) << 8; }
    std::uint32_t le24(std::size_t at) const { return le16(at) | u8(at + 2) << 16; }
    std::uint32_t be32(std::size_t at) const { return be16(at) << 16 | be16(at + 2); }
    std::uint32_t le32(std::size_t at) const { return le16(at) | le16(at + 2) << 16; }
    std::string_view text(std::size_t at, std::size_t count) const {
        return data_.substr(at, count);
    }

private:
    std::string_view data_;
};

std::optional<PixelSize> sized(std::int64_t width, std::int64_t height) {
    if (width < 1 || height < 1) return std::nullopt;
    return PixelSize{width, height};
}

std::optional<PixelSize> pngSize(const Bytes& b) {
    // Signature, then the IHDR chunk: length 13, type, width, height.
    if (!b.has(8, 16) || b.be32(8) != 13 || b.text(12, 4) != "IHDR") return std::nullopt;
    const std::uint32_t width = b.be32(16);
    const std::uint32_t height = b.be32(20);
    if (width > 0x7fffffffu || height > 0x7fffffffu) return std::nullopt;
    return sized(width, height);
}

bool isStartOfFrame(std::uint32_t marker) {
    // C0–CF, except DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

std::optional<PixelSize> jpegSize(const Bytes& b) {
    std::size_t at = 2;  // after SOI
    while (true) {
        if (!b.has(at, 1) || b.u8(at) != 0xFF) return std::nullopt;
        while (b.has(at, 1) && b.u8(at) == 0xFF) ++at;  // fill bytes
        if (!b.has(at, 1)) return std::nullopt;
        const std::uint32_t marker = b.u8(at++);
        if (marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (marker == 0xD9 || marker == 0xDA) return std::nullopt;  // end, or scan before a frame
        if (!b.has(at, 2)) return std::nullopt;
        const std::uint32_t length = b.be16(at);
        if (length < 2) return std::nullopt;
        if (isStartOfFrame(marker)) {
            // length, precision, height, width
            if (length < 7 || !b.has(at, 7)) return std::nullopt;
            return sized(b.be16(at + 5), b.be16(at + 3));
        }
        at += length;
    }
}

std::optional<PixelSize> gifSize(const Bytes& b) {
    if (!b.has(0, 13)) return std::nullopt;
    const std::int64_t screenWidth = b.le16(6);
    const std::int64_t screenHeight = b.le16(8);
    const std::uint32_t flags = b.u8(10);
    std::size_t at = 13;
    if (flags & 0x80) at += 3u * (2u << (flags & 0x07));  // global colour table
    while (b.has(at, 1)) {
        const std::uint32_t block = b.u8(at);
        if (block == 0x2C) {  // image descriptor: left, top, width, height
            if (!b.has(at, 10)) return std::nullopt;
            const std::int64_t frameWidth = b.le16(at + 5);
            const std::int64_t frameHeight = b.le16(at + 7);
            if (frameWidth < 1 || frameHeight < 1) return std::nullopt;
            return sized(std::max(screenWidth, frameWidth), std::max(screenHeight, frameHeight));
        }
        if (block != 0x21 || !b.has(at, 2)) return std::nullopt;  // trailer or garbage
        at += 2;                                                  // introducer, label
        while (true) {                                            // data sub-blocks
            if (!b.has(at, 1)) return std::nullopt;
            const std::uint32_t length = b.u8(at);
            at += 1 + length;
            if (length == 0) break;
        }
    }
    return std::nullopt;
}

std::optional<PixelSize> webpSize(const Bytes& b) {
    if (!b.has(12, 8)) return std::nullopt;
    const std::string_view chunk = b.text(12, 4);
    if (chunk == "VP8 ") {
        // Frame tag (3 bytes, bit 0 clear on a key frame), start code, sizes.
        if (!b.has(20, 10) || (b.u8(20) & 0x01) != 0) return std::nullopt;
        if (b.u8(23) != 0x9D || b.u8(24) != 0x01 || b.u8(25) != 0x2A) return std::nullopt;
        return sized(b.le16(26) & 0x3FFF, b.le16(28) & 0x3FFF);
    }
    if (chunk == "VP8L") {
        if (!b.has(20, 5) || b.u8(20) != 0x2F) return std::nullopt;
        const std::uint32_t bits = b.le32(21);
        return sized((bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1);
    }
    if (chunk == "VP8X") {
        if (!b.has(20, 10)) return std::nullopt;
        return sized(std::int64_t{b.le24(24)} + 1, std::int64_t{b.le24(27)} + 1);
    }
    return std::nullopt;
}

}  // namespace

std::optional<Format> sniff(std::string_view bytes) {
    if (bytes.size() < 12) return std::nullopt;
    if (bytes.starts_with(pngSignature)) return Format::png;
    if (bytes.starts_with("\xFF\xD8\xFF")) return Format::jpeg;
    if (bytes.starts_with("GIF87a") || bytes.starts_with("GIF89a")) return Format::gif;
    if (bytes.starts_with("RIFF") && bytes.substr(8, 4) == "WEBP") return Format::webp;
    return std::nullopt;
}

std::string_view mimeType(Format format) {
    switch (format) {
        case Format::png:
            return "image/png";
        case Format::jpeg:
            return "image/jpeg";
        case Format::gif:
            return "image/gif";
        case Format::webp:
            return "image/webp";
    }
    return "application/octet-stream";
}

std::optional<PixelSize> pixelSize(std::string_view bytes) {
    const auto format = sniff(bytes);
    if (!format) return std::nullopt;
    const Bytes b(bytes);
    switch (*format) {
        case Format::png:
            return pngSize(b);
        case Format::jpeg:
            return jpegSize(b);
        case Format::gif:
            return gifSize(b);
        case Format::webp:
            return webpSize(b);
    }
    return std::nullopt;
}

}  // namespace larkspin::ImageHeaderReader
