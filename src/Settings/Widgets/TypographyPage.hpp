#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "Appearance/Fonts/TypographyFontStatus.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Settings/SettingsPages.hpp"
#include "Settings/Widgets/SettingsPage.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _GObject GObject;
typedef struct _GParamSpec GParamSpec;
typedef struct _GdkEvent GdkEvent;
typedef struct _GtkEventControllerLegacy GtkEventControllerLegacy;
typedef unsigned int guint;

namespace larkspin {

// Typography: the size slider (13–24, stored when a drag ends, or after a
// pause for keyboard and wheel changes) with its label and a stepper; width,
// line height and wide blocks; the three font families with the font panel,
// the body weight, and restoring the theme's typography. The installed
// families are listed a role at a time after the page is shown.
class TypographySettingsPage final : public SettingsPage {
public:
    explicit TypographySettingsPage(SettingsModel& model);
    ~TypographySettingsPage() override;

    void shown() override;

    // For tests: the controls, and the slider's pointer going down and up.
    GtkWidget* slider() const { return slider_; }
    GtkWidget* sizeLabel() const { return sizeLabel_; }
    GtkWidget* stepButton(int direction) const { return direction > 0 ? up_ : down_; }
    GtkWidget* familyPicker(TypographyFontRole role) const;
    GtkWidget* weightPicker() const { return weight_; }
    void pressSliderForTesting() { sliderPressed(); }
    void releaseSliderForTesting() { sliderReleased(); }
    // True once every role's families are listed.
    bool familiesLoaded() const { return families_.size() == 3; }

protected:
    void update() override;

private:
    struct FontRow {
        TypographyFontRole role;
        GtkWidget* row = nullptr;
        GtkWidget* picker = nullptr;
        std::vector<std::string> options;  // after "系统默认"
    };

    void sliderPressed();
    void sliderReleased();
    void cancelPause();
    void updateFontRow(FontRow& row);
    Task<void> loadFamilies();
    Task<void> chooseFamily(TypographyFontRole role, std::string family);

    static void onSliderValue(GtkWidget*, void* self);
    static int onSliderEvent(GtkEventControllerLegacy*, GdkEvent* event, void* self);
    static int onPause(void* self);
    static void onStep(GtkWidget* button, void* self);
    static void onWidth(GObject*, GParamSpec*, void* self);
    static void onLineHeight(GObject*, GParamSpec*, void* self);
    static void onWideBlocks(GObject*, GParamSpec*, void* self);
    static void onFamily(GObject* picker, GParamSpec*, void* self);
    static void onFontPanel(GtkWidget* button, void* self);
    static void onWeight(GObject*, GParamSpec*, void* self);
    static void onRestore(GtkWidget*, void* self);

    GtkWidget* slider_ = nullptr;
    GtkWidget* sizeLabel_ = nullptr;
    GtkWidget* down_ = nullptr;
    GtkWidget* up_ = nullptr;
    GtkWidget* width_ = nullptr;
    GtkWidget* lineHeight_ = nullptr;
    GtkWidget* wideBlocks_ = nullptr;
    GtkWidget* weight_ = nullptr;
    std::vector<int> weights_;
    std::array<FontRow, 3> fonts_{FontRow{TypographyFontRole::body},
                                  FontRow{TypographyFontRole::mono},
                                  FontRow{TypographyFontRole::heading}};
    std::map<TypographyFontRole, std::vector<std::string>> families_;
    FontSizeSliderCommit commit_;
    guint pause_ = 0;
    TaskSlot familyChoice_;
    TaskSlot familyTask_;
};

}  // namespace larkspin
