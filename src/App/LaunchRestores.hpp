#pragma once

#include <memory>

namespace larkspin {

// What waits for the launch's restores (the kept session, the drafts). The
// drafts are restoring from the start until `draftsEnded`; the session only
// between `sessionBegins` and `sessionEnded`. An activation while either
// runs is held and answered once, when both have run. What a launch's open
// (the files named at launch, a second launch's) shows while the session is
// restored comes in front of the session's windows once they are up: the
// last one shown is handed back when the session restore ends. Main thread;
// `T` is what is shown.
template <typename T>
class LaunchRestores {
public:
    void sessionBegins() { restoringSession_ = true; }
    // The session's windows are up: what to bring in front again, if it is
    // still there.
    std::shared_ptr<T> sessionEnded() {
        restoringSession_ = false;
        std::shared_ptr<T> front = shownDuringSession_.lock();
        shownDuringSession_.reset();
        return front;
    }
    void draftsEnded() { restoringDrafts_ = false; }

    bool restoring() const { return restoringSession_ || restoringDrafts_; }
    bool restoringSession() const { return restoringSession_; }

    // An activation came: whether it is answered now (false: it is held
    // until both restores have run).
    bool activate() {
        if (!restoring()) return true;
        activationHeld_ = true;
        return false;
    }
    // Whether the held activation is to be answered now; true once.
    bool takeHeldActivation() {
        if (restoring() || !activationHeld_) return false;
        activationHeld_ = false;
        return true;
    }

    // An open showed `shown`.
    void shown(const std::shared_ptr<T>& shown) {
        if (restoringSession_) shownDuringSession_ = shown;
    }

private:
    bool restoringSession_ = false;
    bool restoringDrafts_ = true;
    bool activationHeld_ = false;
    std::weak_ptr<T> shownDuringSession_;
};

}  // namespace larkspin
