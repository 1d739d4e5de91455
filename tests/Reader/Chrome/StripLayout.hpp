#pragma once

// Measures a strip above the page (notice bar, find strip) once it is laid
// out: its height, and whether its controls lie wholly inside it and centred.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cmath>
#include <string>
#include <vector>

#include "Reader/ReaderWidgetStyle.hpp"

namespace larkspin::test {

// The strip (a revealer's child) is as tall as the design says, and every
// control is inside it, not clipped, its middle within a pixel of the
// middle of `row` (the strip itself, or the strip less its hairline);
// buttons and fields are the strips' compact ones, with air around them.
inline ::testing::AssertionResult fitsCentred(GtkWidget* revealer, GtkWidget* row,
                                              const std::vector<GtkWidget*>& controls) {
    const int height = gtk_widget_get_height(revealer);
    if (height != ReaderWidgetStyle::stripHeight) {
        return ::testing::AssertionFailure() << "the strip is " << height << " px tall";
    }
    graphene_rect_t rowBounds;
    if (!gtk_widget_compute_bounds(row, revealer, &rowBounds)) {
        return ::testing::AssertionFailure() << "the row is not in the strip";
    }
    const float middle = rowBounds.origin.y + rowBounds.size.height / 2;
    for (GtkWidget* control : controls) {
        graphene_rect_t bounds;
        const std::string name = gtk_widget_get_name(control);
        if (!gtk_widget_compute_bounds(control, revealer, &bounds)) {
            return ::testing::AssertionFailure() << name << " is not in the strip";
        }
        int minimum = 0;
        gtk_widget_measure(control, GTK_ORIENTATION_VERTICAL, -1, &minimum, nullptr, nullptr,
                           nullptr);
        const float top = bounds.origin.y, bottom = top + bounds.size.height;
        if (top < 0 || bottom > height || bounds.size.height < minimum) {
            return ::testing::AssertionFailure() << name << " is clipped: from y " << top << " to "
                                                 << bottom << " (at least " << minimum
                                                 << " px tall) in " << height;
        }
        const bool compact = GTK_IS_BUTTON(control) || GTK_IS_EDITABLE(control);
        if (compact && bounds.size.height > ReaderWidgetStyle::stripControlHeight) {
            return ::testing::AssertionFailure() << name << " is " << bounds.size.height << " px tall";
        }
        if (std::abs((top + bottom) / 2 - middle) > 1) {
            return ::testing::AssertionFailure()
                   << name << " is off centre: from y " << top << " to " << bottom;
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace larkspin::test
