#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Appearance/HexColor.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkDrawingArea GtkDrawingArea;
typedef struct _GtkTextView GtkTextView;
typedef struct _PangoLayout PangoLayout;
typedef struct _cairo cairo_t;

namespace larkspin {

// The line numbers of the source editor: a drawing area in the text view's
// left gutter that paints, right-aligned, the numbers of the lines in view in
// the theme's secondary colour and the editor's family (its size less three,
// at least nine). Only the lines in view are visited, so a redraw (after a
// scroll, an edit or a new layout) costs the same on any length of text.
// Clicks pass through it. Main thread.
class LineNumberGutter {
public:
    // One line in view: its 1-based number, and the top and height of its
    // first display line in the gutter's coordinates.
    struct Row {
        std::int64_t line = 0;
        int y = 0;
        int height = 0;
        bool operator==(const Row&) const = default;
    };

    // Takes the left gutter of `view`, which must already sit in its
    // scrolled window (the gutter follows the vertical adjustment it has).
    explicit LineNumberGutter(GtkTextView* view);
    ~LineNumberGutter();
    LineNumberGutter(const LineNumberGutter&) = delete;
    LineNumberGutter& operator=(const LineNumberGutter&) = delete;

    GtkWidget* widget() const { return area_.get(); }
    // Hidden, the gutter takes no width.
    void setShown(bool shown);
    void setWidth(double width);
    void setColors(const HexColor& background, const HexColor& text);
    void setFont(const std::string& family, int editorFontSize);
    // The width of the digit "8" in the gutter's font, for the gutter's width.
    double digitWidth() const;

    // The lines in view, top to bottom; empty before the view is laid out.
    std::vector<Row> visibleRows() const;

private:
    static void draw(GtkDrawingArea* area, cairo_t* cr, int width, int height, void* self);
    static void changed(void* object, void* self);

    GtkTextView* view_;
    GObjectPtr<GtkWidget> area_;
    GObjectPtr<PangoLayout> layout_;
    HexColor background_;
    HexColor text_;
    SignalConnection bufferChanged_;
    SignalConnection scrolled_;
    SignalConnection resized_;
};

}  // namespace larkspin
