#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "Reader/Strips/NoticeBarPalette.hpp"

namespace larkspin {

// The notice bar's widgets as its controller sees them.
// `NoticeBarViewController` is the GTK form; tests use a fake. Main thread.
class NoticeBarView {
public:
    virtual ~NoticeBarView() = default;

    // Icon, message, colours and one button per title, replacing the old ones.
    virtual void render(const NoticeBarPresentation& presentation) = 0;
    // New colours for what is shown (the theme changed).
    virtual void applyPalette(const NoticeBarPalette& palette) = 0;
    virtual void setRevealed(bool revealed) = 0;
    // Speaks the message to assistive technology.
    virtual void announce(const std::string& message) = 0;

    // Set by the controller: the button at this index was pressed.
    std::function<void(std::size_t)> onActionPressed;
};

}  // namespace larkspin
