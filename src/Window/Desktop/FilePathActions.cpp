#include "Window/Desktop/FilePathActions.hpp"

#include <glib.h>

#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Text/FileNameText.hpp"
#include "Web/Desktop/FileManagerReveal.hpp"

namespace larkspin::FilePathActions {

namespace {

Task<void> showFile(std::filesystem::path file, FileManagerReveal::Port port) {
    co_await FileManagerReveal::reveal(std::move(file), std::move(port));
}

}  // namespace

bool copyFilePath(const std::optional<std::filesystem::path>& file, std::string_view documentLogID,
                  GdkClipboard* clipboard) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!file) return false;
    std::error_code error;
    const std::string path = std::filesystem::absolute(*file, error).lexically_normal().native();
    // The clipboard carries UTF-8 text; a name in another encoding is shown
    // the way GLib displays file names.
    gdk_clipboard_set_text(clipboard, FileNameText::path(path).c_str());
    AppLog::actions.info("复制文件路径：doc=%{public}s %{private}s", documentLogID, path);
    return true;
}

void revealInFileManager(const std::optional<std::filesystem::path>& file,
                         std::string_view documentLogID, TaskScope& tasks,
                         FileManagerReveal::Port fileManager) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!file) return;
    AppLog::actions.info("在文件管理器中显示：doc=%{public}s", documentLogID);
    tasks.spawn(showFile(*file, std::move(fileManager)));
}

}  // namespace larkspin::FilePathActions
