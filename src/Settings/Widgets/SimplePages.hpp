#pragma once

#include <cstdint>
#include <functional>

#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Settings/SettingsPages.hpp"
#include "Settings/Widgets/SettingsPage.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _GObject GObject;
typedef struct _GParamSpec GParamSpec;

namespace larkspin {

// General: what a clean document does on a change on disk, and the count and
// clearing of resolved recovery drafts (loaded each time the page shows).
class GeneralSettingsPage final : public SettingsPage {
public:
    explicit GeneralSettingsPage(SettingsModel& model);

    void shown() override;
    GtkWidget* clearButton() const { return clear_; }
    // How many counts have ended since the page was made; for tests.
    int loadsForTesting() const { return loads_; }

protected:
    void update() override;

private:
    static void onPolicy(GObject*, GParamSpec*, void* self);
    static void onClear(GtkWidget*, void* self);
    Task<void> loadCount();
    Task<void> clearDrafts();

    GtkWidget* policy_ = nullptr;
    GtkWidget* countRow_ = nullptr;
    GtkWidget* clear_ = nullptr;
    std::int64_t resolvedCount_ = 0;
    int loads_ = 0;
    TaskScope tasks_;
};

// Editor: spell checking (listed only in a build that edits).
class EditorSettingsPage final : public SettingsPage {
public:
    explicit EditorSettingsPage(SettingsModel& model);

protected:
    void update() override;

private:
    static void onSwitch(GObject*, GParamSpec*, void* self);
    GtkWidget* switch_ = nullptr;
};

// About: icon, name, version, tagline, and a slot for the updater's group.
class AboutSettingsPage final : public SettingsPage {
public:
    AboutSettingsPage(SettingsModel& model, const AppInfo& info);

    // Places `group` (at most 560 px wide, centred) in the update slot,
    // replacing what was there; null empties it.
    void setUpdateGroup(GtkWidget* group);

protected:
    void update() override {}

private:
    GtkWidget* updateSlot_ = nullptr;
};

// The application's icon: its themed icon, falling back to a generic one.
GtkWidget* makeAppIcon(int size);

}  // namespace larkspin
