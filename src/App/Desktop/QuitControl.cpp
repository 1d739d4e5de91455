#include "App/Desktop/QuitControl.hpp"

#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>

#include "App/Desktop/Toplevels.hpp"
#include "App/ShellDocuments.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Log.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin {

namespace {

constexpr Logger shell{"shell"};

}  // namespace

struct QuitControl::Hold::Holds {
    QuitControl* owner = nullptr;
    int count = 0;
};

QuitControl::Hold::Hold(std::shared_ptr<Holds> holds) : holds_(holds) {
    ++holds->count;
    g_application_hold(holds->owner->application_);
}

QuitControl::Hold::Hold(Hold&& other) noexcept : holds_(std::move(other.holds_)) {
    other.holds_.reset();
}

QuitControl::Hold::~Hold() { release(); }

void QuitControl::Hold::release() {
    auto holds = holds_.lock();
    holds_.reset();
    if (!holds || !holds->owner) return;
    --holds->count;
    holds->owner->scheduleQuitCheck();
    g_application_release(holds->owner->application_);
}

QuitControl::QuitControl(GApplication* application, Shell& shell)
    : application_(application), shell_(shell), holds_(std::make_shared<Hold::Holds>()) {
    holds_->owner = this;
}

QuitControl::~QuitControl() {
    holds_->owner = nullptr;
    if (quitCheck_) g_source_remove(quitCheck_);
    if (activityCheck_) g_source_remove(activityCheck_);
    g_signal_handlers_disconnect_by_data(gtk_window_get_toplevels(), this);
    forEachToplevel([this](GtkWindow* window) {
        g_signal_handlers_disconnect_by_data(window, this);
        g_object_set_data(G_OBJECT(window), "larkspin-followed", nullptr);
    });
}

QuitControl::Hold QuitControl::hold() { return Hold(holds_); }

void QuitControl::requestQuit() {
    ShellDocuments* documents = shell_.documents();
    if (reviewing_ || terminating_ || !documents) return;
    reviewing_ = true;
    std::weak_ptr<Hold::Holds> holds = holds_;
    documents->reviewBeforeQuit([holds](bool proceed) {
        auto alive = holds.lock();
        if (!alive || !alive->owner) return;
        alive->owner->reviewing_ = false;
        if (!proceed) return;
        alive->owner->terminate("退出");
        g_application_quit(alive->owner->application_);
    });
}

void QuitControl::terminate(const char* reason) {
    if (terminating_) return;
    terminating_ = true;
    flushDrafts(reason);
    shell_.freezeSession();
}

void QuitControl::endNow(const char* reason) {
    terminate(reason);
    MainThread::beginQuitting();
    if (ShellDocuments* documents = shell_.documents()) documents->flushEveryDraftAndWait();
    SerialExecutor::finishAll();
    shell.info("%{public}s：草稿与会话已写入，结束", reason);
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(0);
}

bool QuitControl::closeIsQuit(GtkWindow* window) {
    const ShellWindow closing{true, TabGroupWindow::of(window) != nullptr};
    if (terminating_ || !QuitRule::closeIsQuit(windows(window), closing)) return false;
    requestQuit();
    return true;
}

void QuitControl::windowsChanged() {
    scheduleQuitCheck();
    scheduleActivityCheck();
}

void QuitControl::flushDrafts(const char* reason) {
    ShellDocuments* documents = shell_.documents();
    if (!documents || documents->documentCount() == 0) return;
    const std::size_t flushed = documents->flushDraftsNow();
    if (flushed > 0) {
        AppLog::recovery.info("%{public}s：刷新 %ld 份文档的草稿", reason, static_cast<long>(flushed));
    }
}

std::vector<ShellWindow> QuitControl::windows(GtkWindow* except) const {
    std::vector<ShellWindow> list;
    for (GList* item = gtk_application_get_windows(GTK_APPLICATION(application_)); item; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (window == except) continue;
        list.push_back({gtk_widget_get_visible(GTK_WIDGET(window)) != FALSE,
                        TabGroupWindow::of(window) != nullptr});
    }
    return list;
}

void QuitControl::scheduleQuitCheck() {
    if (quitCheck_) return;
    quitCheck_ = g_idle_add(
        [](gpointer data) -> gboolean {
            auto* self = static_cast<QuitControl*>(data);
            self->quitCheck_ = 0;
            if (!self->shell_.documents()) return G_SOURCE_REMOVE;  // not started yet
            if (QuitRule::shouldQuit(self->windows(), self->holds_->count)) {
                self->terminate("退出");
                g_application_quit(self->application_);
            }
            return G_SOURCE_REMOVE;
        },
        this);
}

void QuitControl::scheduleActivityCheck() {
    if (activityCheck_) return;
    activityCheck_ = g_idle_add(
        [](gpointer data) -> gboolean {
            auto* self = static_cast<QuitControl*>(data);
            self->activityCheck_ = 0;
            // Every toplevel counts, the open dialog's too (it is no window
            // of the application).
            bool anyActive = false;
            forEachToplevel([&](GtkWindow* window) {
                if (gtk_window_is_active(window)) anyActive = true;
            });
            // The key document may have changed with the active window.
            self->shell_.refreshActions();
            if (self->activity_.update(anyActive)) self->flushDrafts("失活");
            return G_SOURCE_REMOVE;
        },
        this);
}

void QuitControl::followToplevels() {
    GListModel* toplevels = gtk_window_get_toplevels();
    if (!g_signal_handler_find(toplevels, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, this)) {
        g_signal_connect(toplevels, "items-changed", G_CALLBACK(onToplevelsChanged), this);
    }
    forEachToplevel([this](GtkWindow* window) {
        if (g_object_get_data(G_OBJECT(window), "larkspin-followed")) return;
        g_object_set_data(G_OBJECT(window), "larkspin-followed", this);
        g_signal_connect_swapped(window, "notify::is-active", G_CALLBACK(+[](gpointer self) {
                                     static_cast<QuitControl*>(self)->scheduleActivityCheck();
                                 }),
                                 this);
    });
}

void QuitControl::onToplevelsChanged(GListModel*, unsigned, unsigned, unsigned, void* self) {
    auto* control = static_cast<QuitControl*>(self);
    control->followToplevels();
    // A dialog that went may have had the focus.
    control->scheduleActivityCheck();
}

}  // namespace larkspin
