#pragma once

#include <vector>

#include "Platform/Glib/SignalConnection.hpp"

typedef struct _GtkWidget GtkWidget;

namespace larkspin {

class SettingsModel;

// One page of the settings window. A page keeps no copy of a preference:
// `refresh` reads the model and sets every control, with the controls'
// handlers blocked, so that showing a value never stores it again. Main
// thread. A page's destructor touches no widget: the window may be gone.
class SettingsPage {
public:
    explicit SettingsPage(SettingsModel& model);
    virtual ~SettingsPage() = default;
    SettingsPage(const SettingsPage&) = delete;
    SettingsPage& operator=(const SettingsPage&) = delete;

    // The page's root (a vertical box); the window's stack holds it.
    GtkWidget* widget() const { return root_; }

    void refresh();
    // The page came into view.
    virtual void shown() {}
    // From now on no handler acts (the window is going).
    void freeze() { frozen_ = true; }

protected:
    virtual void update() = 0;
    // True while controls are set from the model, or once frozen: handlers
    // then do nothing.
    bool quiet() const { return refreshing_ || frozen_; }
    // Connects a control's signal to a handler given `data` (the page by
    // default); the handler is disconnected when the page goes, so a control
    // that outlives the page never calls into it.
    void connect(void* instance, const char* signal, GCallback callback, void* data = nullptr) {
        signals_.push_back(
            SignalConnection::connect(instance, signal, callback, data ? data : this));
    }
    // Disconnects every handler `connect` made; a page's destructor calls it
    // before its own members go.
    void disconnectSignals() { signals_.clear(); }

    SettingsModel& model_;
    GtkWidget* root_ = nullptr;

private:
    bool refreshing_ = false;
    bool frozen_ = false;
    std::vector<SignalConnection> signals_;
};

}  // namespace larkspin
