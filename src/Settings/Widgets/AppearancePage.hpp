#pragma once

#include <array>
#include <memory>
#include <vector>

#include "Appearance/AppearanceMode.hpp"
#include "Appearance/Theme.hpp"
#include "Settings/SettingsPages.hpp"
#include "Settings/Widgets/SettingsPage.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _cairo cairo_t;
typedef struct _GtkDrawingArea GtkDrawingArea;

namespace larkspin {

// Appearance: the mode (system, light, dark) as linked toggle buttons, the
// six themes as preview cards drawn with cairo (light ones above dark ones;
// the theme in force has the check mark and accent outline, the other
// remembered pick the "已记住" badge), and the restore-all button.
class AppearanceSettingsPage final : public SettingsPage {
public:
    explicit AppearanceSettingsPage(SettingsModel& model);

    // A card's button and marks, in catalogue order; for tests.
    struct Card {
        Theme theme;
        ThemeCardMarks marks;
        GtkWidget* button = nullptr;
        GtkWidget* area = nullptr;
        AppearanceSettingsPage* page = nullptr;
    };
    const std::vector<std::unique_ptr<Card>>& cards() const { return cards_; }
    GtkWidget* modeButton(AppearanceMode mode) const;
    GtkWidget* restoreButton() const { return restore_; }

protected:
    void update() override;

private:
    GtkWidget* themeGrid(ThemeAppearance appearance);
    static void onMode(GtkWidget* button, void* self);
    static void onCard(GtkWidget* button, void* card);
    static void onRestore(GtkWidget*, void* self);
    static void drawCard(GtkDrawingArea* area, cairo_t* cr, int width, int height, void* card);

    std::array<GtkWidget*, 3> modes_{};
    std::vector<std::unique_ptr<Card>> cards_;
    GtkWidget* restore_ = nullptr;
};

}  // namespace larkspin
