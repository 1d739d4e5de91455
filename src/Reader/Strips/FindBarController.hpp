#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Reader/Strips/FindBarState.hpp"
#include "Reader/Strips/FindBarView.hpp"
#include "Protocol/Bridge/FindTarget.hpp"

namespace larkspin {

// The in-page find of one document page: owns the find state, turns what the
// user types and clicks into find and clear requests to its reader, applies
// only the answer to the latest request, and searches again after the
// document rendered anew. The page does the searching itself (through the
// protocol), so the bar's counter is exactly the page's.
//
// Holds its view strongly and its reader weakly; every request runs in a task
// of the controller's scope, so a reply that comes after the controller went
// is dropped. Main thread. Create with `create`.
class FindBarController : public std::enable_shared_from_this<FindBarController> {
public:
    static std::shared_ptr<FindBarController> create(std::shared_ptr<FindBarView> view,
                                                     std::weak_ptr<FindTarget> target);
    FindBarController(const FindBarController&) = delete;
    FindBarController& operator=(const FindBarController&) = delete;

    const FindBarState& state() const { return state_; }
    const std::shared_ptr<FindBarView>& view() const { return view_; }

    // What the bar searches from now on (the page, or the source editor in
    // editing mode). Requests already sent are answered by their target.
    void retarget(std::weak_ptr<FindTarget> target) { target_ = std::move(target); }
    // Shows the strip and focuses its field with the text selected. Sends
    // nothing: a query left in the field is searched again on the next
    // keystroke or step.
    void show();
    // Hides the strip, gives the focus back to the page and clears the
    // page's highlights when something had been searched.
    void close();
    // Next or previous match, showing the strip first when it is hidden; with
    // an empty field it only focuses the field.
    void step(FindPayload::Direction direction);
    // The field's new text: a new search, or a clear when it was emptied.
    void queryChanged(std::string text);
    // The document rendered again: while the strip shows a query, the search
    // is repeated (the page keeps the active match where it was).
    void documentDidRender();
    // Use selection for find: reads the page's selection and searches for it
    // trimmed of white space and line breaks, showing the strip when hidden.
    // An empty selection changes nothing; without a web view nothing is
    // asked; a failed read is logged. A newer call replaces a pending read.
    void useSelection();
    // The query a page selection gives: none when it is only white space.
    static std::optional<std::string> selectionQuery(std::string_view selection);

private:
    using Request = FindBarState::Request;

    FindBarController(std::shared_ptr<FindBarView> view, std::weak_ptr<FindTarget> target);
    void connectView();
    void send(Request request);
    Task<void> perform(Request request, std::int64_t serial);
    Task<void> searchSelection(Task<std::string> reading);

    FindBarState state_;
    std::shared_ptr<FindBarView> view_;
    std::weak_ptr<FindTarget> target_;
    std::int64_t requestSerial_ = 0;
    TaskSlot selectionRead_;
    TaskScope tasks_;  // last: its requests end before the rest goes
};

}  // namespace larkspin
