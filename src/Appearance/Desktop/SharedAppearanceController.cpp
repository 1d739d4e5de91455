// The process's appearance controller follows the desktop's monitor, so it
// is made here, in the desktop part: the rest of the layer links no GTK.
#include "Appearance/AppearanceController.hpp"
#include "Appearance/Desktop/DesktopAppearanceMonitor.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"

namespace larkspin {

AppearanceController& AppearanceController::shared() {
    static auto* controller = [] {
        std::shared_ptr<DesktopAppearanceMonitor> desktop(std::shared_ptr<void>(),
                                                          &DesktopAppearanceMonitor::shared());
        auto* made = new AppearanceController(UserDefaults::standard(),
                                              NotificationCenter::defaultCenter(), desktop);
        made->lastBroadcastThemeID_ = made->currentThemeID();
        return made;
    }();
    return *controller;
}

}  // namespace larkspin
