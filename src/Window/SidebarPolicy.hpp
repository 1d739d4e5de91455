#pragma once

#include <optional>

namespace larkspin {

class UserDefaults;

// Whether a page's heading sidebar shows, from the user's standing choice and
// the window's width. A value: the page keeps one and asks it at every resize
// and toggle.
struct SidebarPolicy {
    // Below this width (pixels) a window is narrow; exactly this is wide.
    static constexpr double narrowThreshold = 900;

    // The user's standing choice, kept under "sidebarVisible".
    bool preferredVisible = true;
    // The user asked for the sidebar although the window is narrow; never kept.
    bool narrowOverride = false;

    bool operator==(const SidebarPolicy&) const = default;

    // Shown when preferred and either the window is wide or the user insisted.
    bool isVisible(double windowWidth) const;
    // A toggle by the user at `windowWidth`; returns the new visibility. In a
    // narrow window only the override flips, so the sidebar comes back when
    // the window is widened.
    bool userToggled(double windowWidth);
    // The window was resized: a wide window drops the override.
    void windowResized(double windowWidth);
};

// The remembered sidebar width and the older key it replaced.
namespace SidebarWidth {

inline constexpr double minimum = 180;
inline constexpr double maximum = 360;
inline constexpr double standard = 260;
// Closer than this to the stored width is not worth a write.
inline constexpr double saveTolerance = 0.5;

inline constexpr const char* visibleKey = "sidebarVisible";
inline constexpr const char* userWidthKey = "sidebarUserWidth";
inline constexpr const char* legacyWidthKey = "sidebarWidth";

bool isInRange(double width);
// The stored width when within range, else the standard width.
double stored(const UserDefaults& defaults);
// Moves a width kept under the older key once: the older key goes; the
// built-in widths of earlier versions (220, 260) are dropped, any other number
// is kept under the new key unless that already holds something. A value of
// the older key that is not a number is left alone. Returns whether it wrote.
bool migrateLegacy(UserDefaults& defaults);
// The width a new page starts with: after the migration, the stored width.
double restore(UserDefaults& defaults);
// The width to write after a divider move that ended at `width`, or nothing
// when it is out of range or within the tolerance of the stored width.
std::optional<double> widthToSave(const UserDefaults& defaults, double width);

}  // namespace SidebarWidth

// The stored choice: a Boolean under "sidebarVisible", shown when absent or
// holding anything else.
SidebarPolicy loadSidebarPolicy(const UserDefaults& defaults);

}  // namespace larkspin
