#pragma once

#include "Appearance/Theme.hpp"

namespace larkspin {

// The theme on the windows of the whole application: one style
// provider on the default display (window background, outline fill, divider)
// and libadwaita's colour scheme forced to the theme's light or dark. Called
// by the application when the theme in force changes, never per page. Main
// thread.
namespace WindowTheme {

void apply(const Theme& theme);
// How many times a provider was added to the display (once per process).
int providersInstalled();

}  // namespace WindowTheme

}  // namespace larkspin
