#include "Platform/Text/FileNameText.hpp"

#include <glib.h>

#include <memory>

namespace larkspin::FileNameText {

namespace {

std::string adopt(gchar* text) {
    std::unique_ptr<gchar, decltype(&g_free)> owned(text, &g_free);
    return owned ? std::string(owned.get()) : std::string();
}

}  // namespace

std::string path(const std::filesystem::path& file) {
    return adopt(g_filename_display_name(file.c_str()));
}

std::string baseName(const std::filesystem::path& file) {
    return adopt(g_filename_display_basename(file.c_str()));
}

}  // namespace larkspin::FileNameText
