#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "Window/SessionSnapshot.hpp"

namespace larkspin {

// One group window to open at launch, laid out in full before it opens.
struct PlannedGroup {
    double width = 0;
    double height = 0;
    std::vector<std::string> paths;  // in tab order
    std::size_t selected = 0;        // position in `paths`

    bool operator==(const PlannedGroup&) const = default;
};

struct SessionPlan {
    std::vector<PlannedGroup> groups;
    std::vector<std::string> missing;      // files gone since the session was kept
    std::vector<std::string> alreadyOpen;  // open already, or twice in the session

    bool operator==(const SessionPlan&) const = default;
};

// Turns a kept session into the group windows to open, so that each opens
// with its final pages, order and selection and nothing is regrouped after.
namespace SessionPlanner {

// The window size a group opens with when the session has none that fits.
inline constexpr double defaultWidth = 1180;
inline constexpr double defaultHeight = 820;
inline constexpr double minimumWidth = 760;
inline constexpr double minimumHeight = 520;
inline constexpr double maximumSide = 16384;

// Every path of the session, once each: what the caller checks for
// existence, off the main thread, before planning.
std::vector<std::string> paths(const SessionSnapshot& snapshot);

// The plan. Pages group by their token, groups in ascending token order,
// pages by index (equal indices keep the file's order); the selected page is
// the first remaining one saved as selected, else the first. Pages without a
// place each open alone, after the groups. A file not in `existing`, or in
// `alreadyOpen` (the command line's, the restored drafts'), or met before in
// the session is left out and logged; a group left empty is dropped. A size
// the window cannot take falls back to the default or is clamped.
SessionPlan plan(const SessionSnapshot& snapshot, const std::set<std::string>& existing,
                 const std::set<std::string>& alreadyOpen);

}  // namespace SessionPlanner

}  // namespace larkspin
