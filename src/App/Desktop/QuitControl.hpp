#pragma once

#include <memory>
#include <vector>

#include "App/ShellPolicy.hpp"

typedef struct _GApplication GApplication;
typedef struct _GListModel GListModel;
typedef struct _GtkWindow GtkWindow;

namespace larkspin {

class ShellDocuments;

// How the program ends: by the quit rule (no window of it visible and nothing
// holding it), on Quit after the quit review, or at once on a signal or the
// session's end, with the drafts flushed and the session frozen first; and
// the drafts flushed whenever the program resigns active (every toplevel of
// the process counts, the open dialog's too). Main thread.
class QuitControl {
public:
    // What the quit control asks of the shell it ends.
    class Shell {
    public:
        virtual ~Shell() = default;
        // The program's documents; null until the launch has made them (the
        // quit rule waits until then).
        virtual ShellDocuments* documents() = 0;
        // The session file stops following the windows.
        virtual void freezeSession() = 0;
        // The key document may have changed with the active window.
        virtual void refreshActions() = 0;
    };

    // Holds the application (a GApplication hold as well) while it lives:
    // the launch until the draft restore has run, an open dialog, an open
    // being checked, the session restore. The last one let go asks the quit
    // rule again.
    class Hold {
    public:
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&&) = delete;
        ~Hold();
        void release();

    private:
        friend class QuitControl;
        struct Holds;
        explicit Hold(std::shared_ptr<Holds> holds);
        std::weak_ptr<Holds> holds_;
    };

    // `application` and `shell` outlive the control.
    QuitControl(GApplication* application, Shell& shell);
    ~QuitControl();
    QuitControl(const QuitControl&) = delete;
    QuitControl& operator=(const QuitControl&) = delete;

    Hold hold();

    // Quit: the quit review, then the end.
    void requestQuit();
    // Flushes the drafts and freezes the session, once.
    void terminate(const char* reason);
    // Ends the process now (a signal, the session's end): the documents stay
    // open, since closing one resolves its draft; the drafts and every
    // queued write reach the disk first.
    [[noreturn]] void endNow(const char* reason);
    // Whether a quit is under way: its review, or the end itself.
    bool isQuitting() const { return reviewing_ || terminating_; }
    // Whether closing `window` is a quit (the last group window's close):
    // the quit review is then asked and the close is refused.
    bool closeIsQuit(GtkWindow* window);

    // A window came, went or changed: the rule and the activity are asked
    // again on an idle.
    void windowsChanged();
    // Every toplevel of the process tells whether it has the focus.
    void followToplevels();

private:
    void flushDrafts(const char* reason);
    std::vector<ShellWindow> windows(GtkWindow* except = nullptr) const;
    void scheduleQuitCheck();
    void scheduleActivityCheck();
    static void onToplevelsChanged(GListModel*, unsigned, unsigned, unsigned, void* self);

    GApplication* application_;
    Shell& shell_;
    std::shared_ptr<Hold::Holds> holds_;
    ActivityTracker activity_;
    bool terminating_ = false;
    bool reviewing_ = false;
    unsigned quitCheck_ = 0;
    unsigned activityCheck_ = 0;
};

}  // namespace larkspin
