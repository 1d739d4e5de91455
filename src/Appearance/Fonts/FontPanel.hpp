#pragma once

#include <functional>
#include <string>

namespace larkspin {

// A font the reader would draw a role with, for the font panel: an installed
// face, or the desktop's own font (empty family; `monospace` picks its
// monospace font).
struct ReaderFont {
    std::string family;
    std::string postScriptName;
    std::string styleName;
    int cssWeight = 400;
    double sizePx = 16;
    bool monospace = false;

    bool operator==(const ReaderFont&) const = default;
};

// What the user chose in the font panel.
struct FontPanelSelection {
    std::string familyName;
    std::string postScriptName;
    int cssWeight = 400;

    bool operator==(const FontPanelSelection&) const = default;
};

// The desktop's font panel (FontChooserPanel in the program). It offers
// families and faces only, no size, colour or effects. Main thread.
class FontPanel {
public:
    using Choice = std::function<void(const FontPanelSelection&)>;

    virtual ~FontPanel() = default;

    // Selects `font` in the panel, lists only monospace families when asked,
    // shows the panel when `orderFront` is true, and calls `onChoose` with
    // the user's choice (replacing any earlier callback).
    virtual void present(const ReaderFont& font, bool monospaceOnly, bool orderFront,
                         Choice onChoose) = 0;
};

}  // namespace larkspin
