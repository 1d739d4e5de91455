#pragma once

#include <map>

#include "Appearance/Theme.hpp"
#include "Appearance/ThemeID.hpp"

namespace larkspin {

// The fixed table of the six themes. Each entry is built once, on first
// request (its localised name is looked up then and kept for the run), and
// copied out by value. Thread-safe.
namespace ThemeCatalog {

// The theme of `id`; total, there is no fallback path.
Theme theme(ThemeID id);

// The six themes keyed by their identifier.
std::map<ThemeID, Theme> all();

// porcelain for light, graphite for dark.
ThemeID defaultTheme(ThemeAppearance appearance);

}  // namespace ThemeCatalog
}  // namespace larkspin
