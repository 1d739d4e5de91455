#include "Window/SidebarPolicy.hpp"

#include <cmath>

#include "Platform/UserDefaults.hpp"

namespace larkspin {

bool SidebarPolicy::isVisible(double windowWidth) const {
    return preferredVisible && (windowWidth >= narrowThreshold || narrowOverride);
}

bool SidebarPolicy::userToggled(double windowWidth) {
    const bool narrow = windowWidth < narrowThreshold;
    if (!preferredVisible) {
        preferredVisible = true;
        narrowOverride = narrow;
        return true;
    }
    if (!narrow) {
        preferredVisible = false;
        narrowOverride = false;
        return false;
    }
    narrowOverride = !narrowOverride;
    return narrowOverride;
}

void SidebarPolicy::windowResized(double windowWidth) {
    if (windowWidth >= narrowThreshold) narrowOverride = false;
}

SidebarPolicy loadSidebarPolicy(const UserDefaults& defaults) {
    SidebarPolicy policy;
    // Strictly a Boolean: a number or a text under the key is not a choice.
    const auto value = defaults.value(SidebarWidth::visibleKey);
    policy.preferredVisible = !(value && value->is_boolean()) || value->get<bool>();
    return policy;
}

namespace SidebarWidth {

bool isInRange(double width) { return width >= minimum && width <= maximum; }

double stored(const UserDefaults& defaults) {
    const auto width = defaults.real(userWidthKey);
    return width && isInRange(*width) ? *width : standard;
}

bool migrateLegacy(UserDefaults& defaults) {
    const auto legacy = defaults.value(legacyWidthKey);
    if (!legacy || !legacy->is_number()) return false;
    const double width = legacy->get<double>();
    defaults.remove(legacyWidthKey);
    if (width == 220 || width == 260) return false;
    if (defaults.contains(userWidthKey)) return false;
    defaults.setReal(userWidthKey, width);  // checked when read
    return true;
}

double restore(UserDefaults& defaults) {
    migrateLegacy(defaults);
    return stored(defaults);
}

std::optional<double> widthToSave(const UserDefaults& defaults, double width) {
    if (!isInRange(width)) return std::nullopt;
    if (std::abs(width - stored(defaults)) < saveTolerance) return std::nullopt;
    return width;
}

}  // namespace SidebarWidth

}  // namespace larkspin
