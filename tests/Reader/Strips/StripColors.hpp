#pragma once

// What a strip above the reader's page looks like once drawn: its texts with
// the colours and opacities in force (read from the render tree GTK draws it
// with), and the pixels behind them (read from the drawn image), so that
// contrast is measured from the styles as they apply, not as they are meant.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "Appearance/ColorContrast.hpp"

namespace larkspin::test {

class DrawnWidget {
public:
    // Draws `widget` (laid out, in a realised window) as it would appear.
    explicit DrawnWidget(GtkWidget* widget) : widget_(widget) {
        width_ = gtk_widget_get_width(widget);
        height_ = gtk_widget_get_height(widget);
        GdkPaintable* paintable = gtk_widget_paintable_new(widget);
        GtkSnapshot* snapshot = gtk_snapshot_new();
        gdk_paintable_snapshot(paintable, snapshot, width_, height_);
        node_ = gtk_snapshot_free_to_node(snapshot);
        g_object_unref(paintable);
        if (!node_ || width_ <= 0 || height_ <= 0) return;
        GskRenderer* renderer = gtk_native_get_renderer(gtk_widget_get_native(widget));
        const graphene_rect_t viewport = GRAPHENE_RECT_INIT(0, 0, float(width_), float(height_));
        texture_ = gsk_renderer_render_texture(renderer, node_, &viewport);
        const int w = gdk_texture_get_width(texture_), h = gdk_texture_get_height(texture_);
        pixels_.resize(std::size_t(w) * std::size_t(h) * 4);
        gdk_texture_download(texture_, pixels_.data(), std::size_t(w) * 4);
        width_ = w;
        height_ = h;
        collect(node_, 0, 0, 1.0);
    }
    ~DrawnWidget() {
        if (texture_) g_object_unref(texture_);
        if (node_) gsk_render_node_unref(node_);
    }
    DrawnWidget(const DrawnWidget&) = delete;
    DrawnWidget& operator=(const DrawnWidget&) = delete;

    struct Text {
        graphene_rect_t bounds;  // in the widget's coordinates
        ColorComponents color;   // with the opacity of everything above it
    };
    const std::vector<Text>& texts() const { return texts_; }
    bool drawn() const { return texture_ != nullptr; }

    // The colour most pixels of `rect` have: the background behind a text
    // or an icon, which covers more of its box than the ink does.
    ColorComponents background(const graphene_rect_t& rect) const {
        std::map<std::uint32_t, int> counts;
        forEachPixel(rect, [&](std::uint32_t pixel) { ++counts[pixel]; });
        std::uint32_t best = 0;
        int most = -1;
        for (const auto& [pixel, count] : counts) {
            if (count > most) most = count, best = pixel;
        }
        return unpack(best);
    }
    // The pixel of `rect` that differs most from its background: the solid
    // part of an icon.
    double strongestContrast(const graphene_rect_t& rect) const {
        const ColorComponents behind = background(rect);
        double best = 1;
        forEachPixel(rect, [&](std::uint32_t pixel) {
            best = std::max(best, ColorContrast::ratio(unpack(pixel), behind));
        });
        return best;
    }
    // Where `child` lies in the drawn widget.
    graphene_rect_t boundsOf(GtkWidget* child) const {
        graphene_rect_t rect = GRAPHENE_RECT_INIT(0, 0, 0, 0);
        if (!gtk_widget_compute_bounds(child, widget_, &rect)) ADD_FAILURE() << "not in the drawn widget";
        return rect;
    }
    // Saves the image when LARKSPIN_SCREENSHOT_DIR names a folder (to look
    // at, not to compare).
    void save(const std::string& name) const {
        const char* folder = std::getenv("LARKSPIN_SCREENSHOT_DIR");
        if (folder && texture_) gdk_texture_save_to_png(texture_, (std::string(folder) + "/" + name + ".png").c_str());
    }

private:
    // Pixels are B8G8R8A8 premultiplied (GDK's default download format), opaque here.
    static ColorComponents unpack(std::uint32_t pixel) {
        return {((pixel >> 16) & 0xff) / 255.0, ((pixel >> 8) & 0xff) / 255.0, (pixel & 0xff) / 255.0, 1};
    }
    template <typename F>
    void forEachPixel(const graphene_rect_t& rect, F&& visit) const {
        const int x0 = std::max(0, int(rect.origin.x)), y0 = std::max(0, int(rect.origin.y));
        const int x1 = std::min(width_, int(rect.origin.x + rect.size.width + 0.5f));
        const int y1 = std::min(height_, int(rect.origin.y + rect.size.height + 0.5f));
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                const guchar* p = &pixels_[(std::size_t(y) * std::size_t(width_) + std::size_t(x)) * 4];
                visit(std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | std::uint32_t(p[0]));
            }
        }
    }
    void collect(GskRenderNode* node, float dx, float dy, double opacity) {
        switch (gsk_render_node_get_node_type(node)) {
            case GSK_CONTAINER_NODE:
                for (guint i = 0; i < gsk_container_node_get_n_children(node); ++i) {
                    collect(gsk_container_node_get_child(node, i), dx, dy, opacity);
                }
                break;
            case GSK_TRANSFORM_NODE: {
                GskTransform* transform = gsk_transform_node_get_transform(node);
                float x = 0, y = 0;
                if (gsk_transform_get_category(transform) >= GSK_TRANSFORM_CATEGORY_2D_TRANSLATE) {
                    gsk_transform_to_translate(transform, &x, &y);
                } else {
                    ADD_FAILURE() << "a transform other than a move";
                }
                collect(gsk_transform_node_get_child(node), dx + x, dy + y, opacity);
                break;
            }
            case GSK_OPACITY_NODE:
                collect(gsk_opacity_node_get_child(node), dx, dy, opacity * gsk_opacity_node_get_opacity(node));
                break;
            case GSK_CLIP_NODE: collect(gsk_clip_node_get_child(node), dx, dy, opacity); break;
            case GSK_ROUNDED_CLIP_NODE: collect(gsk_rounded_clip_node_get_child(node), dx, dy, opacity); break;
            case GSK_DEBUG_NODE: collect(gsk_debug_node_get_child(node), dx, dy, opacity); break;
            case GSK_SHADOW_NODE: collect(gsk_shadow_node_get_child(node), dx, dy, opacity); break;
            case GSK_TEXT_NODE: {
                graphene_rect_t bounds;
                gsk_render_node_get_bounds(node, &bounds);
                bounds.origin.x += dx;
                bounds.origin.y += dy;
                const GdkRGBA* c = gsk_text_node_get_color(node);
                texts_.push_back({bounds, {c->red, c->green, c->blue, c->alpha * opacity}});
                break;
            }
            default:
                break;
        }
    }

    GtkWidget* widget_;
    int width_ = 0, height_ = 0;
    GskRenderNode* node_ = nullptr;
    GdkTexture* texture_ = nullptr;
    std::vector<guchar> pixels_;
    std::vector<Text> texts_;
};

}  // namespace larkspin::test
