#include "Editor/Widgets/LineNumberGutter.hpp"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "Editor/EditorLayout.hpp"
#include "Platform/Async/MainThread.hpp"

namespace larkspin {

namespace {

void setSourceColor(cairo_t* cr, const HexColor& color) {
    const ColorComponents c = color.nativeColor();
    cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha);
}

}  // namespace

LineNumberGutter::LineNumberGutter(GtkTextView* view)
    : view_(view), area_(GObjectPtr<GtkWidget>::retain(gtk_drawing_area_new())) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    GtkWidget* area = area_.get();
    gtk_widget_set_can_target(area, FALSE);
    gtk_widget_set_can_focus(area, FALSE);
    gtk_widget_add_css_class(area, "larkspin-editor-gutter");
    gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(area), &LineNumberGutter::draw, this, nullptr);
    layout_ = GObjectPtr<PangoLayout>::adopt(gtk_widget_create_pango_layout(area, nullptr));
    setFont("monospace", 13);
    gtk_text_view_set_gutter(view_, GTK_TEXT_WINDOW_LEFT, area);

    // Drawn again when the text changes, when it scrolls, and when its height
    // or the viewport's changes (a new layout after a resize or a new font).
    bufferChanged_ = SignalConnection::connect(gtk_text_view_get_buffer(view_), "changed",
                                               G_CALLBACK(&LineNumberGutter::changed), this);
    if (GtkAdjustment* adjustment = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view_))) {
        scrolled_ = SignalConnection::connect(adjustment, "value-changed", G_CALLBACK(&LineNumberGutter::changed),
                                              this);
        resized_ =
            SignalConnection::connect(adjustment, "changed", G_CALLBACK(&LineNumberGutter::changed), this);
    }
}

LineNumberGutter::~LineNumberGutter() {
    bufferChanged_.disconnect();
    scrolled_.disconnect();
    resized_.disconnect();
    gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(area_.get()), nullptr, nullptr, nullptr);
    gtk_text_view_set_gutter(view_, GTK_TEXT_WINDOW_LEFT, nullptr);
}

void LineNumberGutter::setShown(bool shown) {
    gtk_widget_set_visible(area_.get(), shown);
}

void LineNumberGutter::setWidth(double width) {
    const int pixels = static_cast<int>(std::ceil(width));
    if (gtk_drawing_area_get_content_width(GTK_DRAWING_AREA(area_.get())) == pixels) return;
    gtk_drawing_area_set_content_width(GTK_DRAWING_AREA(area_.get()), pixels);
}

void LineNumberGutter::setColors(const HexColor& background, const HexColor& text) {
    background_ = background;
    text_ = text;
    gtk_widget_queue_draw(area_.get());
}

void LineNumberGutter::setFont(const std::string& family, int editorFontSize) {
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, family.c_str());
    pango_font_description_set_absolute_size(font, std::max(editorFontSize - 3, 9) * PANGO_SCALE);
    pango_layout_set_font_description(layout_.get(), font);
    pango_font_description_free(font);
    gtk_widget_queue_draw(area_.get());
}

double LineNumberGutter::digitWidth() const {
    pango_layout_set_text(layout_.get(), "8", 1);
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout_.get(), &width, &height);
    return width;
}

std::vector<LineNumberGutter::Row> LineNumberGutter::visibleRows() const {
    std::vector<Row> rows;
    GtkWidget* viewWidget = GTK_WIDGET(view_);
    if (!gtk_widget_get_mapped(area_.get()) || !gtk_widget_get_visible(area_.get())) return rows;
    GdkRectangle visible;
    gtk_text_view_get_visible_rect(view_, &visible);
    if (visible.height <= 0) return rows;
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(view_);
    GtkTextIter iter;
    int lineTop = 0;
    gtk_text_view_get_line_at_y(view_, &iter, visible.y, &lineTop);
    const int lineCount = gtk_text_buffer_get_line_count(buffer);
    const int bottom = visible.y + visible.height;
    // Line by line from the first in view; the empty line after a final line
    // break is a line too (the caret can stand on it).
    for (int line = gtk_text_iter_get_line(&iter); line < lineCount; ++line) {
        gtk_text_buffer_get_iter_at_line(buffer, &iter, line);
        GdkRectangle first;  // the paragraph's first display line
        gtk_text_view_get_iter_location(view_, &iter, &first);
        if (first.y >= bottom) break;
        int widgetX = 0;
        int widgetY = 0;
        gtk_text_view_buffer_to_window_coords(view_, GTK_TEXT_WINDOW_WIDGET, 0, first.y, &widgetX, &widgetY);
        double x = 0;
        double y = 0;
        if (!gtk_widget_translate_coordinates(viewWidget, area_.get(), widgetX, widgetY, &x, &y)) break;
        rows.push_back({line + 1, static_cast<int>(std::lround(y)), first.height});
    }
    return rows;
}

void LineNumberGutter::draw(GtkDrawingArea*, cairo_t* cr, int width, int height, void* data) {
    const auto* self = static_cast<const LineNumberGutter*>(data);
    setSourceColor(cr, self->background_);
    cairo_rectangle(cr, 0, 0, width, height);
    cairo_fill(cr);
    setSourceColor(cr, self->text_);
    PangoLayout* layout = self->layout_.get();
    for (const Row& row : self->visibleRows()) {
        if (row.y + row.height < 0 || row.y > height) continue;
        const std::string number = std::to_string(row.line);
        pango_layout_set_text(layout, number.c_str(), static_cast<int>(number.size()));
        int textWidth = 0;
        int textHeight = 0;
        pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
        // Right-aligned, centred on the line's first display line.
        const double x = width - EditorLayout::gutterPadding - textWidth;
        const double y = row.y + (row.height - textHeight) / 2.0;
        cairo_move_to(cr, x, std::round(y));
        pango_cairo_show_layout(cr, layout);
    }
}

void LineNumberGutter::changed(void*, void* data) {
    auto* self = static_cast<LineNumberGutter*>(data);
    if (gtk_widget_get_visible(self->area_.get())) gtk_widget_queue_draw(self->area_.get());
}

}  // namespace larkspin
