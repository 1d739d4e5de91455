#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "Document/DocumentWindowHost.hpp"
#include "Platform/Async/Task.hpp"

typedef struct _GtkWindow GtkWindow;

namespace larkspin {

// The Save As panel and the message after a save that did not end saved.
// Main thread.
namespace SaveFileChooser {

// A GtkFileChooserNative save panel (the portal's inside a Flatpak): the
// proposed name, the current file's folder, filters Markdown then plain
// text, confirming before it replaces a file. The file chosen; none when
// cancelled or closed.
Task<std::optional<std::filesystem::path>> choose(GtkWindow* parent,
                                                  DocumentWindowHost::SaveRequest request);

// An AdwMessageDialog modal on `parent`: "未能保存" and why, with "好".
void showError(GtkWindow* parent, const std::string& message);

}  // namespace SaveFileChooser

}  // namespace larkspin
