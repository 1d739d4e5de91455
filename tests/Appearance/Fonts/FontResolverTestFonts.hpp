#pragma once

// A private fontconfig configuration for tests, so that font answers do not
// depend on the machine: only fonts from packages the setup script installs
// (fonts-dejavu-core, fonts-cantarell, fonts-inter-variable), linked into a
// folder of their own, plus "DejaVu Slab": a copy of DejaVu Sans renamed and
// marked in its OS/2 table as a slab-serif design, whose name does not look
// serif.

#include <fontconfig/fontconfig.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace larkspin::test {

class PinnedFonts {
public:
    // Installs the configuration once per process; fails the calling test when
    // a font package is missing.
    static void install() {
        static PinnedFonts fonts;
        ASSERT_TRUE(fonts.error_.empty()) << fonts.error_;
    }

    PinnedFonts(const PinnedFonts&) = delete;
    PinnedFonts& operator=(const PinnedFonts&) = delete;
    ~PinnedFonts() {
        std::error_code ignored;
        if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
    }

private:
    PinnedFonts() {
        char pattern[] = "/tmp/larkspin-fonts-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) {
            error_ = "cannot make a folder for the test fonts";
            return;
        }
        root_ = made;
        const auto fonts = root_ / "fonts";
        std::filesystem::create_directories(fonts);
        const std::vector<std::filesystem::path> files = {
            "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
            "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
            "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
            "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf",
            "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf",
            "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf",
            "/usr/share/fonts/opentype/cantarell/Cantarell-Thin.otf",
            "/usr/share/fonts/opentype/cantarell/Cantarell-Light.otf",
            "/usr/share/fonts/opentype/cantarell/Cantarell-Regular.otf",
            "/usr/share/fonts/opentype/cantarell/Cantarell-Bold.otf",
            "/usr/share/fonts/opentype/cantarell/Cantarell-ExtraBold.otf",
            "/usr/share/fonts/truetype/inter-vf/Inter-roman.var.ttf",
        };
        for (const auto& file : files) {
            if (!std::filesystem::exists(file)) {
                error_ = "missing test font " + file.string() + " (run scripts/setup.sh)";
                return;
            }
            std::filesystem::create_symlink(file, fonts / file.filename());
        }
        if (!writeSlabCopy(files.front(), fonts / "DejaVuSlab.ttf")) return;

        const auto conf = root_ / "fonts.conf";
        std::ofstream(conf) << "<?xml version=\"1.0\"?>\n"
                               "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
                               "<fontconfig>\n  <dir>"
                            << fonts.string() << "</dir>\n  <cachedir>"
                            << (root_ / "cache").string() << "</cachedir>\n</fontconfig>\n";
        setenv("FONTCONFIG_FILE", conf.c_str(), 1);
        FcConfig* config = FcConfigCreate();
        if (!FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(conf.c_str()), FcTrue) ||
            !FcConfigBuildFonts(config) || !FcConfigSetCurrent(config)) {
            error_ = "fontconfig refused the test configuration";
        }
        FcConfigDestroy(config);  // the current configuration keeps its own reference
    }

    // DejaVu Sans renamed to "DejaVu Slab" (same length, so no offsets move)
    // with the OS/2 family class set to slab serifs (class 5).
    bool writeSlabCopy(const std::filesystem::path& from, const std::filesystem::path& to) {
        std::ifstream in(from, std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        std::string bytes = buffer.str();
        auto replaceAll = [&bytes](const std::string& a, const std::string& b) {
            for (std::size_t at = bytes.find(a); at != std::string::npos;
                 at = bytes.find(a, at + b.size())) {
                bytes.replace(at, a.size(), b);
            }
        };
        auto utf16 = [](const std::string& ascii) {
            std::string out;
            for (char c : ascii) {
                out += '\0';
                out += c;
            }
            return out;
        };
        for (auto [a, b] : {std::pair<std::string, std::string>{"DejaVu Sans", "DejaVu Slab"},
                            {"DejaVuSans", "DejaVuSlab"}}) {
            replaceAll(a, b);
            replaceAll(utf16(a), utf16(b));
        }
        auto u16 = [&bytes](std::size_t at) {
            return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) << 8 |
                                         static_cast<unsigned char>(bytes[at + 1]));
        };
        auto u32 = [&u16](std::size_t at) { return u16(at) << 16 | u16(at + 2); };
        const unsigned tables = u16(4);
        for (unsigned i = 0; i < tables; ++i) {
            const std::size_t record = 12 + 16 * i;
            if (bytes.compare(record, 4, "OS/2") != 0) continue;
            const std::size_t os2 = u32(record + 8);
            bytes[os2 + 30] = 0x05;  // sFamilyClass: class 5 (slab serifs), subclass 0
            bytes[os2 + 31] = 0x00;
            std::ofstream(to, std::ios::binary) << bytes;
            return true;
        }
        error_ = "DejaVu Sans has no OS/2 table";
        return false;
    }

    std::filesystem::path root_;
    std::string error_;
};

}  // namespace larkspin::test
