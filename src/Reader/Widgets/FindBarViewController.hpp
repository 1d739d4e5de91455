#pragma once

#include <memory>
#include <string>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"
#include "Reader/Strips/FindBarView.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _AdwAnimation AdwAnimation;

namespace larkspin {

// The find strip of a document page: a revealer that the page puts above its
// mode container, holding a search field, the match counter, previous/next
// buttons and Done, with a hairline under it.
//
// Keys in the field: typing searches at once; Enter is next, Shift+Enter
// previous; Ctrl+G and Shift+Ctrl+G step too (the search entry's own
// bindings); Esc closes. Widget names double as identifiers for tests:
// "Orvik.findBar", "Orvik.findField", "Orvik.findCount",
// "Orvik.findPrevious", "Orvik.findNext", "Orvik.findDone". Main thread.
class FindBarViewController final : public FindBarView {
public:
    static std::shared_ptr<FindBarViewController> create();
    ~FindBarViewController() override;
    FindBarViewController(const FindBarViewController&) = delete;
    FindBarViewController& operator=(const FindBarViewController&) = delete;

    // The revealer.
    GtkWidget* widget() const { return revealer_.get(); }
    GtkWidget* searchField() const { return field_; }
    GtkWidget* countLabel() const { return count_; }
    GtkWidget* previousButton() const { return previous_; }
    GtkWidget* nextButton() const { return next_; }
    GtkWidget* doneButton() const { return done_; }

    void render(const FindBarState& state) override;
    void setRevealed(bool revealed) override;
    void focusField() override;
    void shake() override;

    // The horizontal offset of the field at `progress` (0…1, already eased)
    // through the shake's key frames 0, −6, 6, −4, 4, −2, 2, 0.
    static double shakeOffset(double progress);

private:
    FindBarViewController();
    void build();
    void searchChanged();
    void fire(const std::function<void()>& callback);

    GObjectPtr<GtkWidget> revealer_;
    GtkWidget* field_ = nullptr;  // owned by the revealer's tree
    GtkWidget* count_ = nullptr;
    GtkWidget* previous_ = nullptr;
    GtkWidget* next_ = nullptr;
    GtkWidget* done_ = nullptr;
    GObjectPtr<AdwAnimation> shake_;
    // The field's text as the controller knows it: the last text passed on
    // or put there by render(). "search-changed" comes a turn after an edit,
    // even with a delay of 0, so the field may briefly hold more.
    std::string known_;
    bool settingText_ = false;
    SignalConnection searchChanged_, activate_, nextMatch_, previousMatch_, stopSearch_,
        previousClicked_, nextClicked_, doneClicked_, shiftEnter_;
};

}  // namespace larkspin
