#pragma once

#include <gtk/gtk.h>

#include <string>

#include "Appearance/HexColor.hpp"

// Small helpers for the reader's own widgets: colours as CSS, and CSS that
// applies to one widget only.
namespace larkspin::ReaderWidgetStyle {

// "rgba(r,g,b,a)" with the channels in 0…255 (alpha 0…1).
std::string cssColor(const ColorComponents& color);
GdkRGBA rgba(const ColorComponents& color);

// Replaces the CSS of `widget` (and the parts it draws) with `css`; the
// provider is kept on the widget.
void setWidgetCss(GtkWidget* widget, const std::string& css);

// The height of the strips above the page (notice bar, find strip), and of
// the buttons and fields in them: GTK's own are 34 pixels tall, which with a
// little air would make the strips 42 and more.
inline constexpr int stripHeight = 36;
inline constexpr int stripControlHeight = 28;

// Makes a button or an entry `stripControlHeight` tall, its content centred
// (sets the widget's CSS).
void setStripControl(GtkWidget* widget);

}  // namespace larkspin::ReaderWidgetStyle
