#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "Platform/Async/Task.hpp"

typedef struct _GtkWindow GtkWindow;

namespace larkspin {

// The one GtkFileChooserNative the page's panels share (the portal's inside a
// Flatpak): modal on its window, filtered to Markdown, then plain text,
// starting in `folder` when given. Main thread.
namespace NativeFileChooser {

struct Panel {
    enum class Purpose { open, save };
    Purpose purpose = Purpose::open;  // open: one file, no folders
    std::string title;
    std::string accept;  // the accept button's label
    std::optional<std::filesystem::path> folder;
    std::string name;  // save: the proposed name
};

// The file chosen; none when cancelled or closed.
Task<std::optional<std::filesystem::path>> choose(GtkWindow* parent, Panel panel);

}  // namespace NativeFileChooser

}  // namespace larkspin
