#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace larkspin {

// Every keyboard shortcut of the program in one table: the application's
// ("app.…", set on the application) and the group windows' own ("win.…",
// from WindowActions), in GTK's accelerator notation.
namespace ShellShortcuts {

struct Entry {
    std::string_view action;  // detailed action name, with its prefix
    std::vector<std::string_view> accelerators;
};

// The application's shortcuts (set with gtk_application_set_accels_for_action).
const std::vector<Entry>& applicationShortcuts();
// The application's and the windows' shortcuts together.
std::vector<Entry> all();

// Keys that belong to others and that no action of ours may take: the tab
// view's (Ctrl+Tab, Ctrl+Page Up/Down, Ctrl+Home/End, Alt+1…9 and their
// Shift forms), a text entry's (Ctrl+A/C/X/V/Z, Shift+Ctrl+Z, Ctrl+. and
// Ctrl+;) and F10, which opens the primary menu.
const std::vector<std::string_view>& reserved();

// An accelerator in one spelling: modifiers sorted and named "alt",
// "control", "shift", "super" ("<Primary>" and "<Ctrl>" are "control"), a
// one-letter key lower-cased ("<Shift><Control>G" → "control+shift+g").
std::string normalized(std::string_view accelerator);

// What is wrong with `entries`: an accelerator two actions share (or one
// action lists twice) or one that is reserved, one line each; empty when none.
std::vector<std::string> conflicts(const std::vector<Entry>& entries,
                                   const std::vector<std::string_view>& reserved);

}  // namespace ShellShortcuts

}  // namespace larkspin
