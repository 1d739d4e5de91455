#pragma once

#include <functional>
#include <string>

#include "Reader/Strips/FindBarState.hpp"

namespace larkspin {

// The find bar's widgets as its controller sees them. `FindBarViewController`
// is the GTK form; tests use a fake. The controller sets the four callbacks,
// which the view calls for what the user does. Main thread.
class FindBarView {
public:
    virtual ~FindBarView() = default;

    // Draws `state`: the field's text (only when it differs), the counter,
    // its colour and accessible label, the stepper's sensitivity.
    virtual void render(const FindBarState& state) = 0;
    // Shows or hides the strip.
    virtual void setRevealed(bool revealed) = 0;
    // Puts the keyboard focus in the search field with all its text selected.
    virtual void focusField() = 0;
    // The no-match signal: the field shakes (not when animations are off).
    virtual void shake() = 0;

    std::function<void(std::string)> onQueryChange;  // the field's whole text
    std::function<void()> onNext;
    std::function<void()> onPrevious;
    std::function<void()> onClose;
};

}  // namespace larkspin
