#pragma once

// Measures a strip above the page (notice bar, find strip) once it is laid out.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cmath>
#include <vector>

#include "Reader/Widgets/ReaderWidgetStyle.hpp"

namespace larkspin::test {

// The strip (a revealer's child) is as tall as the strips are meant to be; every
// control lies whole inside it, its middle within a pixel of the middle of
// `row` (the strip, or the strip less its hairline); buttons and fields are
// the compact ones, with air above and below.
inline ::testing::AssertionResult fitsCentred(GtkWidget* revealer, GtkWidget* row,
                                              const std::vector<GtkWidget*>& controls) {
    const int height = gtk_widget_get_height(revealer);
    graphene_rect_t line, box;
    if (height != ReaderWidgetStyle::stripHeight || !gtk_widget_compute_bounds(row, revealer, &line)) {
        return ::testing::AssertionFailure() << "the strip is " << height << " px tall";
    }
    for (GtkWidget* control : controls) {
        if (!gtk_widget_compute_bounds(control, revealer, &box)) return ::testing::AssertionFailure();
        int minimum = 0;  // at the width it has (a wrapping text needs fewer lines than at its narrowest)
        gtk_widget_measure(control, GTK_ORIENTATION_VERTICAL, static_cast<int>(box.size.width), &minimum,
                           nullptr, nullptr, nullptr);
        const float top = box.origin.y, bottom = top + box.size.height;
        const bool compact = !(GTK_IS_BUTTON(control) || GTK_IS_EDITABLE(control)) ||
                             box.size.height <= ReaderWidgetStyle::stripControlHeight;
        if (top < 0 || bottom > height || box.size.height < minimum || !compact ||
            std::abs((top + bottom) / 2 - (line.origin.y + line.size.height / 2)) > 1) {
            return ::testing::AssertionFailure() << gtk_widget_get_name(control) << " lies from y " << top
                                                 << " to " << bottom << " (at least " << minimum
                                                 << " px tall) in " << height;
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace larkspin::test
