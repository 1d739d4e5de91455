#include "Editor/Widgets/EditorFindTarget.hpp"

#include <gtk/gtk.h>

#include "Editor/Widgets/EditorTextView.hpp"

namespace larkspin {

FindResultPayload EditorFindTarget::search(const FindPayload& payload) {
    // Searched afresh every time, so that edits between steps never leave a
    // stale match; the selection marks the active one.
    GtkTextBuffer* buffer = view_.buffer();
    matches_.clear();
    active_ = -1;
    if (payload.query.empty()) return {};
    const auto flags = static_cast<GtkTextSearchFlags>(
        GTK_TEXT_SEARCH_TEXT_ONLY | (payload.caseSensitive ? 0 : GTK_TEXT_SEARCH_CASE_INSENSITIVE));
    GtkTextIter at;
    gtk_text_buffer_get_start_iter(buffer, &at);
    GtkTextIter start, end;
    while (gtk_text_iter_forward_search(&at, payload.query.c_str(), flags, &start, &end, nullptr)) {
        const std::int64_t from = gtk_text_iter_get_offset(&start);
        matches_.push_back({from, gtk_text_iter_get_offset(&end) - from});
        at = end;
    }
    if (matches_.empty()) return {};
    const auto count = static_cast<std::int64_t>(matches_.size());
    const std::int64_t caret = view_.selectedRange().location;
    if (payload.direction == FindPayload::Direction::previous && !payload.restart) {
        active_ = count - 1;
        for (std::int64_t i = count - 1; i >= 0; --i) {
            if (matches_[static_cast<std::size_t>(i)].location < caret) {
                active_ = i;
                break;
            }
        }
    } else {
        active_ = 0;
        for (std::int64_t i = 0; i < count; ++i) {
            const std::int64_t location = matches_[static_cast<std::size_t>(i)].location;
            if (payload.restart ? location >= caret : location > caret) {
                active_ = i;
                break;
            }
        }
    }
    view_.select(matches_[static_cast<std::size_t>(active_)]);
    gtk_text_view_scroll_to_mark(GTK_TEXT_VIEW(view_.widget()), gtk_text_buffer_get_insert(buffer), 0.1, FALSE, 0, 0);
    return {count, active_, true};
}

Task<FindResultPayload> EditorFindTarget::find(FindPayload payload) { co_return search(payload); }

Task<FindResultPayload> EditorFindTarget::clearFind() {
    matches_.clear();
    active_ = -1;
    co_return FindResultPayload{};
}

void EditorFindTarget::focusPage() { gtk_widget_grab_focus(view_.widget()); }

Task<std::string> EditorFindTarget::selectedText() {
    GtkTextIter start, end;
    std::string text;
    if (gtk_text_buffer_get_selection_bounds(view_.buffer(), &start, &end)) {
        char* selected = gtk_text_buffer_get_text(view_.buffer(), &start, &end, TRUE);
        text = selected;
        g_free(selected);
    }
    co_return text;
}

}  // namespace larkspin
