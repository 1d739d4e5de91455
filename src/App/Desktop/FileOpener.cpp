#include "App/Desktop/FileOpener.hpp"

#include <gtk/gtk.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <exception>
#include <optional>
#include <utility>

#include "App/Desktop/ShellLog.hpp"
#include "App/ShellPolicy.hpp"
#include "Window/Desktop/ShellMessage.hpp"
#include "Document/StandardizedPath.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/LaunchTiming.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/FileNameText.hpp"

namespace larkspin {

FileOpener::FileOpener(GtkApplication* application, QuitControl& quit, std::shared_ptr<DocumentOpener> documents,
                       LaunchRestores<OpenedDocument>& restores)
    : application_(application), quit_(quit), documents_(std::move(documents)), restores_(restores) {}

FileOpener::~FileOpener() {
    if (dialog_) g_signal_handlers_disconnect_by_data(dialog_.get(), this);
}

void FileOpener::showDialog() {
    if (dialog_) {
        gtk_native_dialog_show(dialog_.get());
        return;
    }
    GtkWindow* parent = gtk_application_get_active_window(application_);
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        L10n::text("open.dialog.title").c_str(), parent, GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), TRUE);
    GtkFileFilter* markdown = gtk_file_filter_new();
    gtk_file_filter_set_name(markdown, L10n::text("open.filter.markdown").c_str());
    gtk_file_filter_add_mime_type(markdown, "text/markdown");
    gtk_file_filter_add_mime_type(markdown, "text/x-markdown");
    gtk_file_filter_add_suffix(markdown, "md");
    gtk_file_filter_add_suffix(markdown, "markdown");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), markdown);
    GtkFileFilter* text = gtk_file_filter_new();
    gtk_file_filter_set_name(text, L10n::text("open.filter.text").c_str());
    gtk_file_filter_add_mime_type(text, "text/plain");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), text);
    g_object_unref(markdown);
    g_object_unref(text);
    dialog_ = GObjectPtr<GtkNativeDialog>::adopt(GTK_NATIVE_DIALOG(chooser));
    // Held while it is up: the dialog is no window of the application.
    auto* dialogHold = new QuitControl::Hold(quit_.hold());
    g_object_set_data_full(G_OBJECT(chooser), "larkspin-hold", dialogHold,
                           [](gpointer data) { delete static_cast<QuitControl::Hold*>(data); });
    g_signal_connect(chooser, "response", G_CALLBACK(onDialogResponse), this);
    gtk_native_dialog_show(dialog_.get());
    ShellLog::shell.info("打开面板已显示");
}

void FileOpener::open(GFile* file) {
    char* path = g_file_get_path(file);
    if (!path) {
        // Said in its place among the files named with it.
        const Ticket ticket = openOrder_.begin();
        char* uri = g_file_get_uri(file);
        showError(ticket, L10n::format("open.error.not_local", {uri ? uri : ""}));
        g_free(uri);
        showInOrder(ticket, nullptr);
        // On a later turn, once the files named with it are known.
        tasks_.spawn(reportAfterNaming());
        return;
    }
    open(std::filesystem::path(path));
    g_free(path);
}

void FileOpener::open(std::filesystem::path path) {
    const Ticket ticket = openOrder_.begin();
    std::string standardized = standardizedPath(path).string();
    waiting_.emplace(ticket, standardized);
    // Being opened from the moment it is named: the failures of the files
    // named with it wait for it.
    pendingOpens_.insert(std::move(standardized));
    tasks_.spawn(openChecked(std::move(path), ticket, quit_.hold()));
}

std::vector<std::string> FileOpener::waiting() const {
    std::vector<std::string> paths;
    paths.reserve(waiting_.size());
    for (const auto& [ticket, path] : waiting_) paths.push_back(path);
    return paths;
}

void FileOpener::shutdown() {
    if (dialog_) gtk_native_dialog_destroy(dialog_.get());
    dialog_ = {};
}

Task<void> FileOpener::openChecked(std::filesystem::path path, Ticket ticket, QuitControl::Hold openHold) {
    co_await checkAndOpen(std::move(path), ticket);
    reportFailures();
    openHold.release();
}

Task<void> FileOpener::checkAndOpen(std::filesystem::path path, Ticket ticket) {
    // Known as being opened (since it was named) until this ends, however
    // it ends.
    struct Pending {
        std::multiset<std::string>& opens;
        std::string path;
        ~Pending() {
            if (const auto entry = opens.find(path); entry != opens.end()) opens.erase(entry);
        }
    };
    const Pending pending{pendingOpens_, standardizedPath(path).string()};
    // Whether the file is there is asked off the main thread: the error of
    // stat(2) on the path, 0 when there is something to open.
    auto check = [path] {
        struct stat status {};
        return ::stat(path.c_str(), &status) == 0 ? 0 : errno;
    };
    const int missing = co_await runOn(WorkerPool::shared(), std::move(check));
    LaunchTiming::mark("文件已检查");
    if (missing == ENOENT || missing == ENOTDIR) {
        AppLog::document.error("打开 %{private}s 失败：文件不存在", FileNameText::baseName(path));
        showError(ticket, L10n::format("open.error.missing", {FileNameText::path(path)}));
        showInOrder(ticket, nullptr);
        co_return;
    }
    if (missing == ELOOP) {
        // A link that leads back to itself: there is a name, but no file.
        AppLog::document.error("打开 %{private}s 失败：符号链接循环", FileNameText::baseName(path));
        showError(ticket, L10n::format("open.error.symlink_loop", {FileNameText::path(path)}));
        showInOrder(ticket, nullptr);
        co_return;
    }
    // Any other failure (no permission on a folder…) is the opening's to
    // report, with what is true of it.
    std::string message;
    std::shared_ptr<OpenedDocument> opened;
    try {
        // Opened without display: its page comes in its turn.
        DocumentOpener::Opened result = co_await documents_->openDocument(path, false);
        opened = std::move(result.document);
        LaunchTiming::mark("文档已读取");
        if (char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr)) {
            gtk_recent_manager_add_item(gtk_recent_manager_get_default(), uri);
            g_free(uri);
        }
    } catch (const std::exception& error) {
        rethrowIfCancelled(std::current_exception());
        message = error.what();
    }
    showInOrder(ticket, std::move(opened));
    if (!message.empty()) showError(ticket, std::move(message));
}

void FileOpener::showInOrder(Ticket ticket, std::shared_ptr<OpenedDocument> document) {
    std::optional<Ready> result;
    if (document) result = Ready{ticket, std::move(document)};
    else waiting_.erase(ticket);
    for (Ready& ready : openOrder_.finish(ticket, std::move(result))) toShow_.push_back(std::move(ready));
    if (toShow_.empty() || showing_) return;
    // The first slice in this turn: one file's page comes at once.
    if (!quit_.isQuitting() && showSlice()) return;
    showing_ = true;
    tasks_.spawn(showRest(quit_.hold()));
}

namespace {

// How long one turn of the main loop may spend making pages: many files
// given at once come in over several turns, the windows answering between.
constexpr auto showSliceBudget = std::chrono::milliseconds(30);

// How long pages may be made before the windows get to lay out and draw what
// came in: each frame measures the pages added since the one before, and the
// tab bar's every tab, so a frame after each slice would cost more than the
// pages themselves.
constexpr auto drawingInterval = std::chrono::milliseconds(400);

// How often the making of pages asks again whether a quit is still under
// way.
constexpr auto quitPause = std::chrono::milliseconds(100);

}  // namespace

bool FileOpener::showSlice() {
    const auto start = std::chrono::steady_clock::now();
    while (!toShow_.empty()) {
        const Ready ready = std::move(toShow_.front());
        toShow_.pop_front();
        LaunchTiming::mark("文档页开始创建");
        ready.document->makeWindowControllers();
        waiting_.erase(ready.ticket);
        // The last document asked for is brought forward (a document open
        // already has its page); those before it come in behind it.
        if (toShow_.empty()) ready.document->showWindows();
        restores_.shown(ready.document);
        LaunchTiming::mark("窗口已呈现");
        if (std::chrono::steady_clock::now() - start >= showSliceBudget) break;
    }
    return toShow_.empty();
}

namespace {

// Resumes once the main loop has nothing more urgent to do: after input, the
// main queue, and the windows' layout and drawing. Slices that only waited
// for the next turn at the main queue's priority would keep the windows from
// laying out until the last page, and then the hundreds of pages added would
// all be measured in one frame.
auto afterDrawing() {
    return awaitCompletion<void>([](Completion<void> done) {
        g_idle_add_full(
            G_PRIORITY_DEFAULT_IDLE,
            [](gpointer data) {
                static_cast<Completion<void>*>(data)->resolve();
                return G_SOURCE_REMOVE;
            },
            new Completion<void>(std::move(done)), [](gpointer data) { delete static_cast<Completion<void>*>(data); });
    });
}

}  // namespace

Task<void> FileOpener::showRest(QuitControl::Hold hold) {
    auto drawn = std::chrono::steady_clock::now();
    bool shown = false;
    while (!shown) {
        if (quit_.isQuitting()) {
            // The quit's review goes on undisturbed; should it be cancelled,
            // the pages come after all.
            co_await sleepFor(Clock::system(), quitPause);
            continue;
        }
        if (std::chrono::steady_clock::now() - drawn >= drawingInterval) {
            co_await afterDrawing();
            drawn = std::chrono::steady_clock::now();
        } else {
            co_await sleepFor(Clock::system(), Clock::Duration::zero());
        }
        shown = !quit_.isQuitting() && showSlice();
    }
    showing_ = false;
    hold.release();
}

void FileOpener::showError(Ticket ticket, std::string message) {
    // Said once the opens named with it have ended (the end of each open
    // asks again).
    failures_.add(ticket, std::move(message));
}

Task<void> FileOpener::reportAfterNaming() {
    reportFailures();
    co_return;
}

void FileOpener::reportFailures() {
    // Once the opens in flight and the session's windows are all there: one
    // message, over the window in front, naming the files that failed (the
    // first few, and how many more).
    if (failures_.empty() || !pendingOpens_.empty() || restores_.restoringSession()) return;
    const std::string message = failures_.take();
    showShellMessage(application_, L10n::text("open.error.title"), message);
}

void FileOpener::onDialogResponse(GtkNativeDialog* dialog, int response, void* data) {
    auto* self = static_cast<FileOpener*>(data);
    if (response == GTK_RESPONSE_ACCEPT) {
        GListModel* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
        const guint count = g_list_model_get_n_items(files);
        for (guint index = 0; index < count; ++index) {
            auto* file = static_cast<GFile*>(g_list_model_get_item(files, index));
            self->open(file);
            g_object_unref(file);
        }
        g_object_unref(files);
    }
    // Dropping the dialog lets go of its hold.
    self->dialog_ = {};
    self->quit_.windowsChanged();
}

}  // namespace larkspin
