#pragma once

#include <gdk/gdk.h>

#include <filesystem>
#include <optional>
#include <string_view>

#include "Web/Desktop/FileManagerReveal.hpp"

typedef struct _GtkWidget GtkWidget;

namespace larkspin {

class TaskScope;

// What the file-path items do, for the document whose window receives their
// actions. Both do nothing for a document without a file. Main thread.
namespace FilePathActions {

// Puts the file's path (absolute, normalised, as plain text without any
// escaping) on `clipboard`, with the file itself beside it (a file list,
// exact when its name is not UTF-8), and logs it; false, with nothing
// touched, when there is no file.
bool copyFilePath(const std::optional<std::filesystem::path>& file, std::string_view documentLogID,
                  GdkClipboard* clipboard);

// Logs, then shows the file in the file manager through `fileManager`
// (FileManagerReveal) in the background, as a task of `tasks` (the scope of
// the window or document that offered the item: the fallback is not tried
// once it has gone). When neither way works, a message over the window of
// `page` says so.
void revealInFileManager(const std::optional<std::filesystem::path>& file,
                         std::string_view documentLogID, TaskScope& tasks,
                         FileManagerReveal::Port fileManager, GtkWidget* page);

}  // namespace FilePathActions

}  // namespace larkspin
