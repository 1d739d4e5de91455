#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "Appearance/TypographySettings.hpp"
#include "Editor/EditorLayout.hpp"
#include "Editor/MarkdownHighlighter.hpp"
#include "Editor/TopLineSettler.hpp"
#include "Editor/Widgets/EditorTextView.hpp"
#include "Editor/Widgets/LineNumberGutter.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Platform/Glib/SignalConnection.hpp"
#include "Platform/NotificationCenter.hpp"

typedef struct _GtkCssProvider GtkCssProvider;
typedef struct _GtkTextTag GtkTextTag;

namespace larkspin {

class AppearanceController;
class EditorPreferences;
class TypographyController;
class UserDefaults;

// The editing mode of a document page: the source text view in a scrolled
// window, coloured by the Markdown highlighter (one GtkTextTag per role, made
// once and re-coloured on a theme change; long texts coloured a chunk per idle
// turn), in the theme's colours and a monospace font of the reading size's
// 81.25 % in logical pixels, with the line numbers of the lines in view in a
// gutter at the left while they are on. A text holding U+0000 shows a notice above the view: it opens read
// only. Made once per page on the first switch to editing and kept.
// Main thread.
class EditorViewController {
public:
    EditorViewController(DocumentModel& model, UserDefaults& defaults, const EditorTheme& theme,
                         const TypographySettings& typography);
    ~EditorViewController();
    EditorViewController(const EditorViewController&) = delete;
    EditorViewController& operator=(const EditorViewController&) = delete;

    // Follows the application's theme and typography from now on, as the
    // controllers announce them on `center` (each held for the view's life).
    void followAppearance(NotificationCenter& center, const AppearanceController& appearance,
                          const TypographyController& typography, const EditorPreferences& preferences);

    GtkWidget* widget() const { return root_.get(); }
    EditorTextView& textView() { return *textView_; }
    MarkdownHighlighter& highlighter() { return *highlighter_; }

    EditorPositioning positionForEntering(std::optional<std::int64_t> anchorLine, bool editHere) const;
    void apply(const EditorPositioning& positioning);
    // Caret's line at the top with one line of context above it. On a long
    // text GTK measures lines after the first scroll: the line is scrolled
    // back to the top as they are measured, until it stands there or the
    // user scrolls, clicks or types.
    void scrollLineToTop(std::int64_t offset);
    // Whether a line is still being held at the top.
    bool isSettlingScroll() const { return settler_.isActive(); }

    void applyTheme(const EditorTheme& theme);
    // A mono family not worked out before is, on the shared workers, before
    // the typography applies.
    void applyTypography(const TypographySettings& typography);
    const EditorTheme& theme() const { return theme_; }
    int fontSize() const { return fontSize_; }

    bool showsLineNumbers() const { return showsLineNumbers_; }
    void setShowsLineNumbers(bool shows);
    double gutterWidth() const { return gutterWidth_; }
    const LineNumberGutter& gutter() const { return *gutter_; }

    // Kept by the page when editing is left; preferred on the next entry.
    std::optional<TextRange> savedSelection;
    const std::optional<EditorPositioning>& lastPositioning() const { return lastPositioning_; }

private:
    class TagSink;
    static int runChunk(void* self);

    void scheduleChunk();
    ScrollMeasure measureScroll() const;
    void settle(TopLineSettler::Step step, const ScrollMeasure& measure);
    void stopSettling();
    void scheduleQuietCheck();
    static void onAdjustmentChanged(void* adjustment, void* self);
    static int onQuiet(void* self);
    static int onInputEvent(void* controller, void* event, void* self);
    bool updateGutterWidth();
    void layoutGutter();
    void applyStyle();
    void useFont(std::string family, int size);
    Task<void> applyTypographyWhenPrepared(TypographySettings typography);

    DocumentModel& model_;
    UserDefaults& defaults_;
    EditorTheme theme_;
    std::string fontFamily_;
    int fontSize_ = 13;
    bool showsLineNumbers_ = false;
    double gutterWidth_ = 44;
    std::optional<EditorPositioning> lastPositioning_;

    GObjectPtr<GtkWidget> root_;
    GObjectPtr<GtkWidget> notice_;
    GObjectPtr<GtkWidget> scroller_;
    GObjectPtr<GtkCssProvider> css_;
    std::unique_ptr<EditorTextView> textView_;
    std::unique_ptr<LineNumberGutter> gutter_;  // after the view: goes before it
    std::unique_ptr<TagSink> sink_;
    std::unique_ptr<MarkdownHighlighter> highlighter_;
    unsigned chunkSource_ = 0;
    TopLineSettler settler_;
    bool scrollsToTextTop_ = false;  // the line being placed is the first
    unsigned quietSource_ = 0;
    SignalConnection adjustmentChanged_;
    SignalConnection inputEvent_;
    std::vector<NotificationObserver> observers_;
    TaskSlot typography_;  // last: the newest typography waiting for its font
};

}  // namespace larkspin
