#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspin {

// What the window-state line needs to know of one document page ("window"
// in the line's words): its number and what names it.
struct WindowStateEntry {
    std::int64_t number = 0;
    // The page's document, when it has one: its display name and whether it
    // has unsaved changes.
    bool hasDocument = false;
    std::string displayName;
    bool isEdited = false;
    // The page's title, for a page without a document.
    std::string title;
    // The pages of its group window in tab order (empty when not in one),
    // and the group's selected page.
    std::vector<std::int64_t> groupPages;
    std::optional<std::int64_t> selectedPage;
};

// The windows at one moment, taken by the window layer on the main thread.
struct WindowStateSnapshot {
    std::size_t documentCount = 0;
    // Each document's pages, documents in the document registry's order.
    std::vector<std::vector<std::int64_t>> documentPages;
    // Every page known by number.
    std::vector<WindowStateEntry> pages;
    std::optional<std::int64_t> keyPage;
    // Pages front to back (group windows by stacking, each group's pages
    // selected one first).
    std::vector<std::int64_t> frontToBack;
};

// A one-line summary of documents, pages, groups, key and front page, for the
// log at launch and after sessions are restored.
namespace WindowStateReporter {

// A page's name in the line: the document's display name ("<未命名>" when it
// has none) with "*" when edited; else the title, or "<无标题窗口>".
std::string name(const WindowStateEntry& page);
std::string summary(const WindowStateSnapshot& snapshot);
// Logs the summary with the reason, at info level.
void log(std::string_view reason, const WindowStateSnapshot& snapshot);

}  // namespace WindowStateReporter

}  // namespace larkspin
