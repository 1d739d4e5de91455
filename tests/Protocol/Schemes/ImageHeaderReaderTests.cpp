#include <gtest/gtest.h>

#include <string>

#include "Protocol/Schemes/ImageHeaderReader.hpp"
#include "Protocol/SchemeTestSupport.hpp"

namespace larkspin {
namespace {

using ImageHeaderReader::Format;
using ImageHeaderReader::PixelSize;
using ImageHeaderReader::pixelSize;
using ImageHeaderReader::sniff;

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

std::string le16(int v) {
    return bytes({v & 0xFF, (v >> 8) & 0xFF});
}

// A GIF: header, logical screen, optional global colour table, the given
// blocks, trailer.
std::string gif(int screenWidth, int screenHeight, bool colourTable, const std::string& blocks) {
    std::string out = "GIF89a" + le16(screenWidth) + le16(screenHeight);
    out += bytes({colourTable ? 0x81 : 0x00, 0, 0});
    if (colourTable) out += std::string(12, '\0');  // 4 entries
    return out + blocks + ";";
}

std::string imageDescriptor(int left, int top, int width, int height) {
    return "," + le16(left) + le16(top) + le16(width) + le16(height) + bytes({0}) +
           bytes({2, 1, 0x44, 0});  // LZW minimum size, one data sub-block, end
}

std::string riff(std::string chunk, std::string payload) {
    std::string out = "RIFF" + bytes({0, 0, 0, 0}) + "WEBP" + chunk;
    out += bytes({static_cast<int>(payload.size()), 0, 0, 0});
    return out + payload;
}

TEST(ImageHeaderReader, SniffsTheFourSignaturesFromTwelveBytes) {
    EXPECT_EQ(sniff(test::pngHeader(1, 1)), Format::png);
    EXPECT_EQ(sniff(test::jpegHeader(1, 1)), Format::jpeg);
    EXPECT_EQ(sniff("GIF87a" + std::string(6, '\0')), Format::gif);
    EXPECT_EQ(sniff("GIF89a" + std::string(6, '\0')), Format::gif);
    EXPECT_EQ(sniff(std::string("RIFF\0\0\0\0WEBP", 12)), Format::webp);
    EXPECT_EQ(sniff(std::string("RIFF\0\0\0\0WAVE", 12)), std::nullopt);
    EXPECT_EQ(sniff("GIF88a" + std::string(6, '\0')), std::nullopt);
    EXPECT_EQ(sniff("BM" + std::string(20, '\0')), std::nullopt);
    EXPECT_EQ(sniff(test::pngHeader(1, 1).substr(0, 11)), std::nullopt);  // fewer than 12
    EXPECT_EQ(ImageHeaderReader::mimeType(Format::webp), "image/webp");
}

TEST(ImageHeaderReader, PngSizeComesFromIhdr) {
    EXPECT_EQ(pixelSize(test::pngHeader(640, 480)), (PixelSize{640, 480}));
    EXPECT_EQ(pixelSize(test::pngHeader(0, 480)), std::nullopt);
    EXPECT_EQ(pixelSize(test::pngHeader(0x80000000u, 1)), std::nullopt);  // beyond PNG's range
    EXPECT_EQ(pixelSize(test::pngHeader(640, 480).substr(0, 23)), std::nullopt);
    std::string otherChunk = test::pngHeader(640, 480);
    otherChunk.replace(12, 4, "IDAT");
    EXPECT_EQ(pixelSize(otherChunk), std::nullopt);
}

TEST(ImageHeaderReader, JpegWalksSegmentsToTheFrameHeader) {
    EXPECT_EQ(pixelSize(test::jpegHeader(1920, 1080)), (PixelSize{1920, 1080}));

    // Fill bytes, a restart marker and an EXIF segment holding a thumbnail's
    // own SOF bytes come first; progressive frame (C2).
    std::string progressive = bytes({0xFF, 0xD8, 0xFF, 0xFF, 0xD0});
    progressive += bytes({0xFF, 0xE1, 0x00, 0x0C}) + "Exif" + bytes({0, 0, 0xFF, 0xC0, 0, 0});
    progressive += bytes({0xFF, 0xC2, 0x00, 0x11, 0x08, 0x00, 0x20, 0x00, 0x40});
    EXPECT_EQ(pixelSize(progressive + std::string(9, '\0')), (PixelSize{64, 32}));

    // DHT (C4) is not a frame header; scan data before any frame gives none.
    std::string huffmanThenScan = bytes({0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x04, 0x00, 0x00});
    huffmanThenScan += bytes({0xFF, 0xDA, 0x00, 0x08}) + std::string(10, '\0');
    EXPECT_EQ(pixelSize(huffmanThenScan), std::nullopt);

    std::string zeroHeight = test::jpegHeader(10, 0);
    EXPECT_EQ(pixelSize(zeroHeight), std::nullopt);
    const std::string cut = test::jpegHeader(10, 10);
    EXPECT_EQ(pixelSize(cut.substr(0, cut.size() - 12)), std::nullopt);
    std::string badLength = bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01}) + std::string(10, '\0');
    EXPECT_EQ(pixelSize(badLength), std::nullopt);
    std::string noMarker =
        bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0x12}) + std::string(10, '\0');
    EXPECT_EQ(pixelSize(noMarker), std::nullopt);
}

TEST(ImageHeaderReader, GifTakesScreenAndFirstFrame) {
    const std::string extension = bytes({0x21, 0xF9, 0x04, 0, 0, 0, 0, 0});  // graphic control
    EXPECT_EQ(pixelSize(gif(300, 200, true, extension + imageDescriptor(0, 0, 300, 200))),
              (PixelSize{300, 200}));
    // A first frame wider than the screen widens the canvas.
    EXPECT_EQ(pixelSize(gif(100, 100, false, imageDescriptor(0, 0, 9000, 50))),
              (PixelSize{9000, 100}));
    // A screen of 0×0 takes the frame's size.
    EXPECT_EQ(pixelSize(gif(0, 0, false, imageDescriptor(0, 0, 16, 8))), (PixelSize{16, 8}));
    // No image at all, a frame of zero size, a cut extension.
    EXPECT_EQ(pixelSize(gif(10, 10, false, extension)), std::nullopt);
    EXPECT_EQ(pixelSize(gif(10, 10, false, imageDescriptor(0, 0, 0, 5))), std::nullopt);
    EXPECT_EQ(pixelSize("GIF89a" + le16(10) + le16(10) + bytes({0, 0, 0, 0x21, 0xFE, 0x05})),
              std::nullopt);
}

TEST(ImageHeaderReader, WebpReadsLossyLosslessAndExtendedHeaders) {
    const std::string lossy =
        bytes({0x10, 0x02, 0x00, 0x9D, 0x01, 0x2A}) + le16(0xC000 | 400) + le16(300) + "xx";
    EXPECT_EQ(pixelSize(riff("VP8 ", lossy)), (PixelSize{400, 300}));  // scale bits ignored
    std::string interFrame = lossy;
    interFrame[0] = 0x11;
    EXPECT_EQ(pixelSize(riff("VP8 ", interFrame)), std::nullopt);
    std::string badStart = lossy;
    badStart[3] = 0x00;
    EXPECT_EQ(pixelSize(riff("VP8 ", badStart)), std::nullopt);

    // Lossless: 14 bits each of width-1 and height-1.
    const std::uint32_t bits = (100 - 1) | ((50 - 1) << 14);
    const std::string lossless =
        bytes({0x2F, static_cast<int>(bits & 0xFF), static_cast<int>((bits >> 8) & 0xFF),
               static_cast<int>((bits >> 16) & 0xFF), static_cast<int>((bits >> 24) & 0xFF)});
    EXPECT_EQ(pixelSize(riff("VP8L", lossless)), (PixelSize{100, 50}));
    EXPECT_EQ(pixelSize(riff("VP8L", "\x2E" + lossless.substr(1))), std::nullopt);

    // Extended: 24-bit canvas width-1 and height-1, up to 2^24.
    const std::string extended =
        bytes({0x10, 0, 0, 0}) + bytes({0xFF, 0xFF, 0xFF}) + bytes({0x01, 0x00, 0x00});
    EXPECT_EQ(pixelSize(riff("VP8X", extended)), (PixelSize{16777216, 2}));
    EXPECT_EQ(pixelSize(riff("VP8X", extended.substr(0, 9))), std::nullopt);
    EXPECT_EQ(pixelSize(riff("ALPH", extended)), std::nullopt);
}

}  // namespace
}  // namespace larkspin
