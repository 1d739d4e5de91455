#pragma once

#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;

namespace larkspin::SettingsRows {

// The building blocks of every settings page, and of groups that others put
// on a page (the updater's on About): libadwaita's preference groups and
// action rows, which draw the rounded card, the separators and the hint.

// A titled group (no title when empty).
GtkWidget* group(const std::string& title);
// A row with a title, an optional hint under it and a control at its end.
GtkWidget* row(const std::string& title, const std::string& detail, GtkWidget* control);
// A row whose control is a switch; the switch is returned through `toggle`.
GtkWidget* switchRow(const std::string& title, const std::string& detail, GtkWidget** toggle);
// A plain row around `child`, 14 px in from each side; not activatable.
GtkWidget* boxRow(GtkWidget* child, int verticalMargin);
// A drop-down of texts, labelled `label` for assistive readers.
GtkWidget* dropDown(const std::vector<std::string>& items, const std::string& label, int width);
// Replaces a drop-down's texts when they differ (the selection then moves:
// call it with the handlers quiet).
void setItems(GtkWidget* dropDown, const std::vector<std::string>& items);

}  // namespace larkspin::SettingsRows
