// The program's appearance controller follows the desktop's monitor, so it
// is made here, in the desktop part: the rest of the layer links no GTK.
#include "Appearance/AppearanceController.hpp"
#include "Appearance/Desktop/DesktopAppearanceMonitor.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"

namespace larkspin {

std::unique_ptr<AppearanceController> AppearanceController::followingDesktop(UserDefaults& defaults,
                                                                            NotificationCenter& center) {
    auto made = std::make_unique<AppearanceController>(defaults, center, DesktopAppearanceMonitor::create());
    made->lastBroadcastThemeID_ = made->currentThemeID();
    return made;
}

}  // namespace larkspin
