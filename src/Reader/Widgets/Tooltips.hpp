#pragma once

#include <string>

typedef struct _GtkWidget GtkWidget;

namespace larkspin {

// The program's tooltips: a text on one line (GTK's own tooltip wraps a
// Chinese text after a character or two), shown only where it adds
// something. Main thread.
namespace Tooltips {

// `text` over `widget` (none when empty): an icon's name, a key. A menu
// button shows none while its menu is open.
void set(GtkWidget* widget, const std::string& text);

// `text` (the label's whole text) over `label`, shown only while the label
// is too narrow for it and cut short.
void setWhenCut(GtkWidget* label, const std::string& text);

// What the tooltip of `widget` says when it shows; empty for none.
std::string textOf(GtkWidget* widget);

}  // namespace Tooltips

}  // namespace larkspin
