#pragma once

typedef struct _GtkWidget GtkWidget;

namespace larkspin {

class AppUpdater;

// The update group of the settings window's About page, for that page to
// place: an AdwPreferencesGroup "更新" holding the "自动检查更新" switch
// (bound both ways to the updater's automatic checks) and a row whose title
// is the status ("有新版本 1.2", "上次检查：3分钟前", or nothing) with the
// "检查更新…" / "安装更新…" button, which starts a check the user asked for.
// The texts follow the updater's changes and are worked out again every
// minute. `updater` must outlive the widget (the program's one updater
// lives for the process). Where there is no updater (a test host, a build
// without it), the page shows no group. Main thread.
namespace AboutUpdateGroup {

inline constexpr const char* widgetName = "Orvik.settings.about.update";
inline constexpr const char* checkButtonName = "Orvik.settings.about.update.check";

// A new floating widget.
GtkWidget* make(AppUpdater& updater);

}  // namespace AboutUpdateGroup

}  // namespace larkspin
