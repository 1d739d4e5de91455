#include "Editor/Widgets/EditorViewController.hpp"

#include <gtk/gtk.h>

#include <cmath>
#include <utility>

#include <fmt/format.h>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Appearance/TypographyController.hpp"
#include "Editor/EditorPreferences.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"
#include "Platform/UserDefaults.hpp"

namespace larkspin {
namespace {

constexpr const char* scrollMarkName = "larkspin-scroll-target";

GdkRGBA rgba(const HexColor& color) {
    const ColorComponents c = color.nativeColor();
    return GdkRGBA{static_cast<float>(c.red), static_cast<float>(c.green), static_cast<float>(c.blue),
                   static_cast<float>(c.alpha)};
}

std::string cssColor(const HexColor& color) {
    const ColorComponents c = color.nativeColor();
    return fmt::format("rgba({},{},{},{})", static_cast<int>(c.red * 255 + 0.5), static_cast<int>(c.green * 255 + 0.5),
                       static_cast<int>(c.blue * 255 + 0.5), c.alpha);
}

std::string cssString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        if (c == '\n' || c == '\r') continue;
        quoted += c;
    }
    return quoted + "\"";
}

GtkTextIter iterAt(GtkTextBuffer* buffer, std::int64_t offset) {
    GtkTextIter iter;
    gtk_text_buffer_get_iter_at_offset(buffer, &iter, static_cast<int>(offset));
    return iter;
}

}  // namespace

// One tag per role in the buffer's tag table, made in the order of the
// roles so that later roles win; removing colours removes only these.
class EditorViewController::TagSink : public HighlightSink {
public:
    explicit TagSink(GtkTextBuffer* buffer) : buffer_(buffer) {
        GtkTextTagTable* table = gtk_text_buffer_get_tag_table(buffer);
        for (std::size_t i = 0; i < highlightRoleCount; ++i) {
            tags_[i] = gtk_text_tag_new(fmt::format("larkspin-role-{}", i).c_str());
            gtk_text_tag_table_add(table, tags_[i]);
            g_object_unref(tags_[i]);  // the table keeps it
        }
    }

    void setPalette(const EditorTheme& theme) {
        const GdkRGBA heading = rgba(theme.heading), code = rgba(theme.code), codeBg = rgba(theme.codeBackground),
                      quote = rgba(theme.quote), quoteBorder = rgba(theme.quoteBorder), link = rgba(theme.link),
                      secondary = rgba(theme.textSecondary);
        g_object_set(tag(HighlightRole::heading), "foreground-rgba", &heading, "weight", PANGO_WEIGHT_BOLD, nullptr);
        g_object_set(tag(HighlightRole::quote), "foreground-rgba", &quote, nullptr);
        g_object_set(tag(HighlightRole::quoteMarker), "foreground-rgba", &quoteBorder, nullptr);
        g_object_set(tag(HighlightRole::listMarker), "foreground-rgba", &link, nullptr);
        g_object_set(tag(HighlightRole::strong), "weight", PANGO_WEIGHT_BOLD, nullptr);
        g_object_set(tag(HighlightRole::emphasis), "style", PANGO_STYLE_ITALIC, nullptr);
        g_object_set(tag(HighlightRole::link), "foreground-rgba", &link, nullptr);
        g_object_set(tag(HighlightRole::linkDestination), "foreground-rgba", &secondary, "underline",
                     PANGO_UNDERLINE_SINGLE, nullptr);
        g_object_set(tag(HighlightRole::inlineCode), "foreground-rgba", &code, "background-rgba", &codeBg, "weight",
                     PANGO_WEIGHT_NORMAL, "style", PANGO_STYLE_NORMAL, nullptr);
        g_object_set(tag(HighlightRole::fenceMarker), "foreground-rgba", &secondary, nullptr);
        g_object_set(tag(HighlightRole::fencedCode), "foreground-rgba", &code, "background-rgba", &codeBg, nullptr);
    }

    GtkTextTag* tag(HighlightRole role) const { return tags_[static_cast<std::size_t>(role)]; }

    void clearRoles(TextRange range) override {
        GtkTextIter start = iterAt(buffer_, range.location);
        GtkTextIter end = iterAt(buffer_, range.location + range.length);
        for (GtkTextTag* t : tags_) gtk_text_buffer_remove_tag(buffer_, t, &start, &end);
    }
    void addRole(HighlightRole role, TextRange range) override {
        GtkTextIter start = iterAt(buffer_, range.location);
        GtkTextIter end = iterAt(buffer_, range.location + range.length);
        gtk_text_buffer_apply_tag(buffer_, tag(role), &start, &end);
    }

private:
    GtkTextBuffer* buffer_;
    std::array<GtkTextTag*, highlightRoleCount> tags_{};
};

EditorViewController::EditorViewController(DocumentModel& model, UserDefaults& defaults, const EditorTheme& theme,
                                           const TypographySettings& typography)
    : model_(model),
      defaults_(defaults),
      theme_(theme),
      fontFamily_(EditorFont::preparedFamily(typography.monoFamily)),
      fontSize_(EditorLayout::fontSize(typography.fontSizePx)),
      showsLineNumbers_(defaults.boolean(EditorPreferences::showLineNumbersKey).value_or(false)),
      root_(GObjectPtr<GtkWidget>::adopt(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0))),
      notice_(GObjectPtr<GtkWidget>::retain(gtk_label_new(L10n::text("editor.readonly.nul").c_str()))),
      scroller_(GObjectPtr<GtkWidget>::retain(gtk_scrolled_window_new())),
      css_(GObjectPtr<GtkCssProvider>::adopt(gtk_css_provider_new())),
      textView_(std::make_unique<EditorTextView>(model)) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    gtk_label_set_wrap(GTK_LABEL(notice_.get()), TRUE);
    gtk_widget_add_css_class(notice_.get(), "larkspin-editor-notice");
    gtk_widget_set_margin_top(notice_.get(), 6);
    gtk_widget_set_margin_bottom(notice_.get(), 6);
    gtk_box_append(GTK_BOX(root_.get()), notice_.get());
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller_.get()), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scroller_.get()), TRUE);
    gtk_widget_set_vexpand(scroller_.get(), TRUE);
    gtk_widget_set_hexpand(scroller_.get(), TRUE);
    gtk_widget_add_css_class(scroller_.get(), "larkspin-editor-scroller");
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller_.get()), textView_->widget());
    gtk_box_append(GTK_BOX(root_.get()), scroller_.get());
    gutter_ = std::make_unique<LineNumberGutter>(GTK_TEXT_VIEW(textView_->widget()));
    gutter_->setFont(fontFamily_, fontSize_);
    gtk_widget_set_visible(notice_.get(), textView_->isReadOnly());
    gtk_accessible_update_property(GTK_ACCESSIBLE(textView_->widget()), GTK_ACCESSIBLE_PROPERTY_LABEL, "Markdown",
                                   -1);

    GtkTextView* view = GTK_TEXT_VIEW(textView_->widget());
    gtk_text_view_set_top_margin(view, EditorLayout::verticalInset);
    gtk_text_view_set_bottom_margin(view, EditorLayout::verticalInset);
    gtk_text_view_set_right_margin(view, EditorLayout::textInset);
    for (GtkWidget* w : {textView_->widget(), scroller_.get()}) {
        gtk_style_context_add_provider(gtk_widget_get_style_context(w), GTK_STYLE_PROVIDER(css_.get()),
                                       GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    GtkTextIter start;
    gtk_text_buffer_get_start_iter(textView_->buffer(), &start);
    gtk_text_buffer_create_mark(textView_->buffer(), scrollMarkName, &start, TRUE);

    sink_ = std::make_unique<TagSink>(textView_->buffer());
    highlighter_ = std::make_unique<MarkdownHighlighter>(model_.textStorage(), *sink_);
    highlighter_->isSuspended = [this] { return textView_->hasPreedit(); };
    highlighter_->onChunkWanted = [this] { scheduleChunk(); };
    textView_->onPreeditChange = [this](bool hasPreedit) {
        if (!hasPreedit) highlighter_->flushPending();
    };
    textView_->onEdit = [this](const TextStorage::Edit& edit) {
        stopSettling();
        highlighter_->noteEdit(edit);
        if (showsLineNumbers_ && updateGutterWidth()) layoutGutter();
    };
    textView_->onReadOnlyChange = [this](bool readOnly) { gtk_widget_set_visible(notice_.get(), readOnly); };

    // Held lines follow GTK's measuring of lines until the user acts.
    adjustmentChanged_ = SignalConnection::connect(gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view)), "changed",
                                                   G_CALLBACK(onAdjustmentChanged), this);
    GtkEventController* input = gtk_event_controller_legacy_new();
    gtk_event_controller_set_propagation_phase(input, GTK_PHASE_CAPTURE);
    inputEvent_ = SignalConnection::connect(input, "event", G_CALLBACK(onInputEvent), this);
    gtk_widget_add_controller(scroller_.get(), input);

    updateGutterWidth();
    layoutGutter();
    applyStyle();
    gutter_->setColors(theme_.background, theme_.textSecondary);
    sink_->setPalette(theme_);
    highlighter_->highlightAll();
}

EditorViewController::~EditorViewController() {
    observers_.clear();
    if (chunkSource_ != 0) g_source_remove(chunkSource_);
    if (quietSource_ != 0) g_source_remove(quietSource_);
    adjustmentChanged_.disconnect();
    inputEvent_.disconnect();
    highlighter_->cancel();
}

void EditorViewController::followAppearance(NotificationCenter& center, const AppearanceController& appearance,
                                            const TypographyController& typography,
                                            const EditorPreferences& preferences) {
    observers_.push_back(center.addObserver(std::string(AppearanceController::didChangeNotification), nullptr,
                                            [this, &appearance](const Notification&) {
                                                applyTheme(EditorTheme::from(
                                                    ThemeCatalog::theme(appearance.currentThemeID())));
                                            }));
    observers_.push_back(center.addObserver(std::string(TypographyController::didChangeNotification), nullptr,
                                            [this, &typography](const Notification&) {
                                                applyTypography(typography.settings());
                                            }));
    observers_.push_back(center.addObserver(std::string(EditorPreferences::didChangeNotification), nullptr,
                                            [&preferences](const Notification&) {
                                                // No spell checker exists for GTK 4 here: the
                                                // preference is kept for when one does.
                                                AppLog::editor.info("拼写检查偏好=%{bool}d（此平台没有拼写检查）",
                                                                    preferences.spellChecking());
                                            }));
}

void EditorViewController::scheduleChunk() {
    if (chunkSource_ != 0) return;
    chunkSource_ = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, &EditorViewController::runChunk, this, nullptr);
}

int EditorViewController::runChunk(void* data) {
    auto* self = static_cast<EditorViewController*>(data);
    if (self->highlighter_->runChunk()) return G_SOURCE_CONTINUE;
    self->chunkSource_ = 0;
    return G_SOURCE_REMOVE;
}

EditorPositioning EditorViewController::positionForEntering(std::optional<std::int64_t> anchorLine,
                                                            bool editHere) const {
    return EditorPositioning::forEntering(anchorLine, editHere, savedSelection, model_.textStorage().length());
}

void EditorViewController::apply(const EditorPositioning& positioning) {
    lastPositioning_ = positioning;
    stopSettling();  // a line held from before gives way to this placing
    GtkTextView* view = GTK_TEXT_VIEW(textView_->widget());
    std::optional<std::int64_t> line;
    if (const auto* a = std::get_if<EditorPositioning::AnchorLine>(&positioning.value)) line = a->line;
    if (const auto* e = std::get_if<EditorPositioning::EditHere>(&positioning.value)) line = e->line;
    if (line) {
        const std::int64_t offset = textView_->offsetForLine(std::max<std::int64_t>(*line, 1));
        textView_->select({offset, 0});
        scrollLineToTop(offset);
    } else if (const auto* r = std::get_if<EditorPositioning::RestoredSelection>(&positioning.value)) {
        textView_->select(r->range);
        gtk_text_view_scroll_to_mark(view, gtk_text_buffer_get_insert(textView_->buffer()), 0.1, FALSE, 0, 0);
    } else {
        textView_->select({0, 0});
        gtk_adjustment_set_value(gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view)), 0);
    }
    AppLog::editor.info("编辑器定位：%{public}s 当前行=%ld", positioning.description(),
                        static_cast<long>(textView_->lineForOffset(textView_->selectedRange().location)));
}

void EditorViewController::scrollLineToTop(std::int64_t offset) {
    // One line of context stays above the target line; for the first line
    // that is the very top, the text's top inset included.
    const std::int64_t line = textView_->lineForOffset(offset);
    scrollsToTextTop_ = line <= 1;
    const std::int64_t target = textView_->offsetForLine(std::max<std::int64_t>(line - 1, 1));
    GtkTextBuffer* buffer = textView_->buffer();
    GtkTextMark* mark = gtk_text_buffer_get_mark(buffer, scrollMarkName);
    const GtkTextIter iter = iterAt(buffer, target);
    gtk_text_buffer_move_mark(buffer, mark, &iter);
    GtkTextView* view = GTK_TEXT_VIEW(textView_->widget());
    if (scrollsToTextTop_) {
        gtk_adjustment_set_value(gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view)), 0);
    } else {
        gtk_text_view_scroll_to_mark(view, mark, 0, TRUE, 0, 0);
    }
    settler_.begin();
    scheduleQuietCheck();
}

ScrollMeasure EditorViewController::measureScroll() const {
    GtkTextView* view = GTK_TEXT_VIEW(textView_->widget());
    GtkAdjustment* adjustment = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view));
    GtkTextBuffer* buffer = textView_->buffer();
    GtkTextIter iter;
    gtk_text_buffer_get_iter_at_mark(buffer, &iter, gtk_text_buffer_get_mark(buffer, scrollMarkName));
    int y = 0;
    int height = 0;
    gtk_text_view_get_line_yrange(view, &iter, &y, &height);
    GdkRectangle visible;
    gtk_text_view_get_visible_rect(view, &visible);
    ScrollMeasure measure;
    measure.value = gtk_adjustment_get_value(adjustment);
    // The line's top in the adjustment's pixels: the visible rectangle's top
    // stands the text's top inset away from the value.
    measure.lineTop = scrollsToTextTop_ ? 0 : y + (measure.value - visible.y);
    measure.upper = gtk_adjustment_get_upper(adjustment);
    measure.pageSize = gtk_adjustment_get_page_size(adjustment);
    return measure;
}

void EditorViewController::settle(TopLineSettler::Step step, const ScrollMeasure& measure) {
    switch (step) {
        case TopLineSettler::Step::none:
            break;
        case TopLineSettler::Step::scroll:
            gtk_adjustment_set_value(gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(textView_->widget())),
                                     TopLineSettler::wantedValue(measure));
            break;
        case TopLineSettler::Step::settled:
            AppLog::editor.debug("行已置顶：校正 %d 次", settler_.corrections());
            break;
        case TopLineSettler::Step::gaveUp:
            AppLog::editor.error("行置顶校正次数已尽（%d 次），停在当前位置",
                                 settler_.corrections());
            break;
    }
}

void EditorViewController::scheduleQuietCheck() {
    if (settler_.isActive() && quietSource_ == 0) {
        quietSource_ = g_idle_add_full(G_PRIORITY_LOW, &EditorViewController::onQuiet, this, nullptr);
    }
}

void EditorViewController::stopSettling() {
    settler_.stop();
    if (quietSource_ != 0) g_source_remove(std::exchange(quietSource_, 0));
}

void EditorViewController::onAdjustmentChanged(void*, void* data) {
    auto* self = static_cast<EditorViewController*>(data);
    if (!self->settler_.isActive()) return;
    const ScrollMeasure measure = self->measureScroll();
    self->settle(self->settler_.layoutChanged(measure), measure);
    // GTK is measuring: look again once it is done.
    self->scheduleQuietCheck();
}

int EditorViewController::onQuiet(void* data) {
    // Below every other source: GTK has measured what it meant to for now.
    auto* self = static_cast<EditorViewController*>(data);
    self->quietSource_ = 0;
    const ScrollMeasure measure = self->measureScroll();
    const TopLineSettler::Step step = self->settler_.quiet(measure);
    self->settle(step, measure);
    // Only after a scroll: a view not laid out yet waits for its size (the
    // adjustment changes then) instead of spinning at idle.
    if (step == TopLineSettler::Step::scroll) self->scheduleQuietCheck();
    return G_SOURCE_REMOVE;
}

int EditorViewController::onInputEvent(void*, void* event, void* data) {
    auto* self = static_cast<EditorViewController*>(data);
    switch (gdk_event_get_event_type(static_cast<GdkEvent*>(event))) {
        case GDK_BUTTON_PRESS:
        case GDK_TOUCH_BEGIN:
        case GDK_SCROLL:
        case GDK_KEY_PRESS:
        case GDK_TOUCHPAD_SWIPE:
            // The user moves the view: it is theirs from now on.
            if (self->settler_.isActive()) self->stopSettling();
            break;
        default:
            break;
    }
    return FALSE;
}

void EditorViewController::applyTheme(const EditorTheme& theme) {
    if (theme == theme_) return;
    theme_ = theme;
    applyStyle();
    gutter_->setColors(theme_.background, theme_.textSecondary);
    // The tags change colour in place: nothing is coloured again.
    sink_->setPalette(theme_);
}

void EditorViewController::applyTypography(const TypographySettings& typography) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (auto family = EditorFont::knownFamily(typography.monoFamily)) {
        typography_.cancel();
        useFont(std::move(*family), EditorLayout::fontSize(typography.fontSizePx));
        return;
    }
    typography_.spawn(applyTypographyWhenPrepared(typography));
}

Task<void> EditorViewController::applyTypographyWhenPrepared(TypographySettings typography) {
    co_await EditorFont::prepare(typography.monoFamily);
    useFont(EditorFont::preparedFamily(typography.monoFamily),
            EditorLayout::fontSize(typography.fontSizePx));
}

void EditorViewController::useFont(std::string family, int size) {
    if (family == fontFamily_ && size == fontSize_) return;
    fontFamily_ = std::move(family);
    fontSize_ = size;
    applyStyle();
    gutter_->setFont(fontFamily_, fontSize_);
    if (updateGutterWidth()) layoutGutter();
}

void EditorViewController::applyStyle() {
    const std::string css = fmt::format(
        "textview.larkspin-editor {{ font-family: {}, monospace; font-size: {}px; }}\n"
        "textview.larkspin-editor text {{ background-color: {}; color: {}; caret-color: {}; }}\n"
        "textview.larkspin-editor text selection {{ background-color: {}; }}\n"
        "scrolledwindow.larkspin-editor-scroller {{ background-color: {}; }}\n",
        cssString(fontFamily_), fontSize_, cssColor(theme_.background), cssColor(theme_.text), cssColor(theme_.text),
        cssColor(theme_.selection), cssColor(theme_.background));
    gtk_css_provider_load_from_data(css_.get(), css.data(), static_cast<gssize>(css.size()));
}

void EditorViewController::setShowsLineNumbers(bool shows) {
    if (shows) updateGutterWidth();
    showsLineNumbers_ = shows;
    defaults_.setBool(EditorPreferences::showLineNumbersKey, shows);
    layoutGutter();
}

bool EditorViewController::updateGutterWidth() {
    const double updated =
        EditorLayout::gutterWidth(gtk_text_buffer_get_line_count(textView_->buffer()), gutter_->digitWidth());
    if (!EditorLayout::gutterWidthChanged(gutterWidth_, updated)) return false;
    gutterWidth_ = updated;
    return true;
}

void EditorViewController::layoutGutter() {
    // The gutter takes its width beside the text window; the text keeps its
    // own inset after it.
    GtkTextView* view = GTK_TEXT_VIEW(textView_->widget());
    gutter_->setWidth(gutterWidth_);
    gutter_->setShown(showsLineNumbers_);
    const int left = EditorLayout::leftInset(showsLineNumbers_, gutterWidth_) -
                     (showsLineNumbers_ ? static_cast<int>(std::ceil(gutterWidth_)) : 0);
    if (gtk_text_view_get_left_margin(view) != left) gtk_text_view_set_left_margin(view, left);
}

}  // namespace larkspin
