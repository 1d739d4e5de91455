#pragma once

// A private fontconfig configuration for tests, so that font answers do not
// depend on the machine: only fonts from packages the setup script installs
// (fonts-dejavu-core, fonts-cantarell, fonts-inter-variable), linked into a
// folder of their own, plus "DejaVu Slab": a copy of DejaVu Sans renamed and
// marked in its OS/2 table as a slab-serif design, whose name does not look
// serif.

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Support/TempDir.hpp"

namespace larkspin::test {

class PinnedFonts {
public:
    // Installs the configuration once per process; fails the calling test when
    // a font package is missing.
    static void install() {
        static PinnedFonts fonts;
        ASSERT_TRUE(fonts.error_.empty()) << fonts.error_;
    }

private:
    PinnedFonts() {
        const auto fonts = root_ / "fonts";
        std::filesystem::create_directories(fonts);
        const std::string dejavu = "/usr/share/fonts/truetype/dejavu/DejaVu";
        const std::string cantarell = "/usr/share/fonts/opentype/cantarell/Cantarell-";
        for (const std::filesystem::path file :
             {dejavu + "Sans.ttf", dejavu + "Sans-Bold.ttf", dejavu + "SansMono.ttf",
              dejavu + "SansMono-Bold.ttf", dejavu + "Serif.ttf", dejavu + "Serif-Bold.ttf",
              cantarell + "Thin.otf", cantarell + "Light.otf", cantarell + "Regular.otf",
              cantarell + "Bold.otf", cantarell + "ExtraBold.otf",
              std::string("/usr/share/fonts/truetype/inter-vf/Inter-roman.var.ttf")}) {
            if (!std::filesystem::exists(file)) {
                error_ = "missing test font " + file.string() + " (run scripts/setup.sh)";
                return;
            }
            std::filesystem::create_symlink(file, fonts / file.filename());
        }
        if (!writeSlabCopy(dejavu + "Sans.ttf", fonts / "DejaVuSlab.ttf")) return;

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
        std::stringstream buffer;
        buffer << std::ifstream(from, std::ios::binary).rdbuf();
        std::string bytes = buffer.str();
        using Names = std::pair<std::string, std::string>;
        for (const auto& [sans, slab] :
             {Names{"DejaVu Sans", "DejaVu Slab"}, Names{"DejaVuSans", "DejaVuSlab"}}) {
            Names utf16;  // the name table holds some names as UTF-16BE
            for (std::size_t i = 0; i < sans.size(); ++i) {
                utf16.first += {'\0', sans[i]};
                utf16.second += {'\0', slab[i]};
            }
            for (const auto& [a, b] : {Names{sans, slab}, utf16}) {
                for (auto at = bytes.find(a); at != bytes.npos; at = bytes.find(a, at + b.size()))
                    bytes.replace(at, a.size(), b);
            }
        }
        auto u32 = [&bytes](std::size_t at) {
            std::uint32_t value = 0;
            for (std::size_t i = 0; i < 4; ++i) value = value << 8 | std::uint8_t(bytes[at + i]);
            return value;
        };
        const unsigned tables = u32(4) >> 16;
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

    TempDir root_;  // removed when the process ends
    std::string error_;
};

}  // namespace larkspin::test
