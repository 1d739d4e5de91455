#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Platform/Glib/SignalConnection.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Settings/SettingsPages.hpp"
#include "Settings/SettingsTab.hpp"

typedef struct _GtkApplication GtkApplication;
typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;
typedef struct _GtkListBox GtkListBox;
typedef struct _GtkScrolledWindow GtkScrolledWindow;
typedef struct _GtkListBoxRow GtkListBoxRow;
typedef struct _GObject GObject;
typedef struct _GParamSpec GParamSpec;

namespace larkspin {

class SettingsModel;
class SettingsPage;
class UserDefaults;

// The settings window: made on the first show() and kept for the process
// (closing hides it). An AdwWindow with our own sidebar (the tabs on
// coloured tiles, About at its foot) and a stack of pages; default and
// minimum size 900×648. Its size and maximised state are remembered under
// "settingsWindowFrame" in `defaults` once the user changes them; the
// desktop places the window. Its colours follow the application's colour
// scheme, which the theme in force sets. Main thread.
class SettingsWindowController {
public:
    struct Options {
        AppInfo info;
        // The Editor page is listed only in a build that edits.
        bool sourceEditing = false;
        // The window joins the application (counts among its windows).
        GtkApplication* application = nullptr;
    };

    SettingsWindowController(SettingsModel& model, UserDefaults& defaults, Options options);
    ~SettingsWindowController();
    SettingsWindowController(const SettingsWindowController&) = delete;
    SettingsWindowController& operator=(const SettingsWindowController&) = delete;

    // Makes the window the first time, selects `tab` when given and brings
    // the window to the front.
    void show(std::optional<SettingsTab> tab = std::nullopt);

    // The updater's group on the About page: `make` is called once, when the
    // page exists (at once if it does already), and its widget is placed
    // under the version. Without it the page shows no update section.
    void setUpdateGroup(std::function<GtkWidget*()> make);

    GtkWindow* window() const { return window_; }
    SettingsSelection& selection() { return selection_; }
    // A page, once the window exists; for tests.
    SettingsPage* page(SettingsTab tab) const;
    // What scrolls the page shown, once the window exists; for tests.
    GtkScrolledWindow* pageScroller() const;

private:
    struct Parts;

    GtkWindow* makeWindow();
    GtkWidget* makeSidebar();
    void tabChanged(SettingsTab tab);
    void refreshPages();
    void saveFrame();
    void placeUpdateGroup();

    static void onRowSelected(GtkListBox* list, GtkListBoxRow* row, void* self);
    static void onSizeChanged(GObject*, GParamSpec*, void* self);
    static void onDestroyed(GtkWidget*, void* self);

    SettingsModel& model_;
    UserDefaults& defaults_;
    Options options_;
    SettingsSelection selection_;
    GtkWindow* window_ = nullptr;
    std::unique_ptr<Parts> parts_;
    std::vector<std::unique_ptr<Parts>> retired_;
    std::function<GtkWidget*()> makeUpdateGroup_;
    bool syncingSidebar_ = false;
    NotificationObserver modelChanged_;
    // The window's and the sidebar lists' handlers, which call this object.
    std::vector<SignalConnection> signals_;
};

}  // namespace larkspin
