#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "Reader/Chrome/ConflictBarPalette.hpp"

namespace larkspin {

// The notice bar's widgets as its controller sees them.
// `ConflictBarViewController` is the GTK form; tests use a fake. Main thread.
class ConflictBarView {
public:
    virtual ~ConflictBarView() = default;

    // Icon, message, colours and one button per title, replacing the old ones.
    virtual void render(const ConflictBarPresentation& presentation) = 0;
    // New colours for what is shown (the theme changed).
    virtual void applyPalette(const ConflictBarPalette& palette) = 0;
    virtual void setRevealed(bool revealed) = 0;
    // Speaks the message to assistive technology.
    virtual void announce(const std::string& message) = 0;

    // Set by the controller: the button at this index was pressed.
    std::function<void(std::size_t)> onActionPressed;
};

}  // namespace larkspin
