#pragma once

#include <vector>

#include "Protocol/Bridge/FindTarget.hpp"
#include "Model/TextStorage.hpp"

namespace larkspin {

class EditorTextView;

// The find bar's target in editing mode: GTK's text view has no find
// interface of its own, so the bar searches the buffer
// (gtk_text_iter_forward_search) with the same counter and stepping as in the
// page. A new search starts at the first match at or after the selection; a
// step goes to the next match after (or the last before) the selection,
// wrapping at either end. The active match is selected and scrolled into
// view. Main thread.
class EditorFindTarget final : public FindTarget {
public:
    explicit EditorFindTarget(EditorTextView& view) : view_(view) {}

    Task<FindResultPayload> find(FindPayload payload) override;
    Task<FindResultPayload> clearFind() override;
    void focusPage() override;
    bool hasWebView() const override { return true; }
    Task<std::string> selectedText() override;

    // The search itself, at once.
    FindResultPayload search(const FindPayload& payload);

private:
    EditorTextView& view_;
    std::vector<TextRange> matches_;
    std::int64_t active_ = -1;
};

}  // namespace larkspin
