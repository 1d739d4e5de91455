#pragma once

#include <filesystem>
#include <optional>

#include "Document/DocumentWindowHost.hpp"
#include "Platform/Async/Task.hpp"

typedef struct _GtkWindow GtkWindow;

namespace larkspin {

// The relocation panel: a GtkFileChooserNative that opens one file (no
// folders), filtered to Markdown, then plain text, starting in the current
// file's folder, with the accept label "选择源文件". Inside a Flatpak it is the
// portal's, which also grants access to the file chosen. Main thread.
namespace SourceFileChooser {

// The file chosen; none when cancelled or closed.
Task<std::optional<std::filesystem::path>> choose(GtkWindow* parent,
                                                  DocumentWindowHost::SourceRequest request);

}  // namespace SourceFileChooser

}  // namespace larkspin
