#include "Editor/Widgets/EditorTextView.hpp"

#include <gtk/gtk.h>

#include <algorithm>
#include <cstring>

#include "Editor/BlockIndent.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"

namespace larkspin {
namespace {

constexpr const char* selfKey = "larkspin-editor-text-view";

// The text as the buffer can hold it: U+0000 shown as U+2400, one character
// for one, so offsets stay those of the model.
std::string displayable(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        if (c == '\0') shown += "\xE2\x90\x80";
        else shown += c;
    }
    return shown;
}

bool holdsNul(const std::string& text) { return std::memchr(text.data(), '\0', text.size()) != nullptr; }

GtkTextIter iterAt(GtkTextBuffer* buffer, std::int64_t offset) {
    GtkTextIter iter;
    gtk_text_buffer_get_iter_at_offset(buffer, &iter, static_cast<int>(offset));
    return iter;
}

}  // namespace

EditorTextView::EditorTextView(DocumentModel& model)
    : model_(model),
      view_(GObjectPtr<GtkWidget>::adopt(gtk_text_view_new())),
      buffer_(GObjectPtr<GtkTextBuffer>::retain(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view_.get())))) {
    GtkTextView* view = GTK_TEXT_VIEW(view_.get());
    gtk_text_view_set_wrap_mode(view, GTK_WRAP_WORD_CHAR);
    gtk_text_view_set_monospace(view, TRUE);
    gtk_text_view_set_accepts_tab(view, TRUE);
    gtk_text_view_set_input_hints(view, GTK_INPUT_HINT_NO_SPELLCHECK);
    gtk_widget_add_css_class(view_.get(), "larkspin-editor");
    g_object_set_data(G_OBJECT(view_.get()), selfKey, this);

    reloadFromModel();

    GtkTextBuffer* buffer = buffer_.get();
    insertText_ = SignalConnection(buffer, g_signal_connect_after(buffer, "insert-text",
                                                                  G_CALLBACK(onInsertText), this));
    deleteBefore_ = SignalConnection::connect(buffer, "delete-range", G_CALLBACK(onDeleteRangeBefore), this);
    deleteAfter_ = SignalConnection(buffer, g_signal_connect_after(buffer, "delete-range",
                                                                   G_CALLBACK(onDeleteRangeAfter), this));
    modifiedChanged_ =
        SignalConnection::connect(buffer, "modified-changed", G_CALLBACK(onModifiedChanged), this);
    modelStateChanged();
    preeditChanged_ = SignalConnection::connect(view, "preedit-changed", G_CALLBACK(onPreeditChanged), this);
    paste_ = SignalConnection::connect(view, "paste-clipboard", G_CALLBACK(onPasteClipboard), this);

    // Before the view's own handling, so that Tab never reaches it.
    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect(keys, "key-pressed", G_CALLBACK(onKeyPressed), this);
    gtk_widget_add_controller(view_.get(), keys);

    modelObserver_ = model_.addTextObserver([this](const TextStorage::Edit& edit) { modelDidEdit(edit); });
}

EditorTextView::~EditorTextView() {
    model_.removeTextObserver(modelObserver_);
    g_object_set_data(G_OBJECT(view_.get()), selfKey, nullptr);
    // The key controller lives with the view, which may outlive this object
    // inside its parent: take it off so it never calls back into freed memory.
    g_signal_handlers_disconnect_by_data(view_.get(), this);
    GListModel* controllers = gtk_widget_observe_controllers(view_.get());
    for (guint i = g_list_model_get_n_items(controllers); i > 0; --i) {
        auto* controller = static_cast<GtkEventController*>(g_list_model_get_item(controllers, i - 1));
        if (g_signal_handlers_disconnect_by_data(controller, this) > 0) {
            gtk_widget_remove_controller(view_.get(), controller);
        }
        g_object_unref(controller);
    }
    g_object_unref(controllers);
}

void EditorTextView::modelStateChanged() {
    if (model_.isDirty() || !gtk_text_buffer_get_modified(buffer_.get())) return;
    markingUnmodified_ = true;
    gtk_text_buffer_set_modified(buffer_.get(), FALSE);
    markingUnmodified_ = false;
}

// GTK marks the buffer unmodified when an undo or redo brings it back to the
// point marked above, after the step's edits reached the model.
void EditorTextView::onModifiedChanged(GtkTextBuffer* buffer, void* data) {
    auto* self = static_cast<EditorTextView*>(data);
    if (self->markingUnmodified_ || self->applyingToBuffer_ || gtk_text_buffer_get_modified(buffer)) return;
    self->model_.noteTextIsSavedText();
}

void EditorTextView::reloadFromModel() {
    const std::string& text = model_.sourceText();
    const bool wasReadOnly = readOnly_;
    readOnly_ = holdsNul(text);
    applyingToBuffer_ = true;
    gtk_text_buffer_begin_irreversible_action(buffer_.get());
    if (readOnly_) {
        const std::string shown = displayable(text);
        gtk_text_buffer_set_text(buffer_.get(), shown.data(), static_cast<int>(shown.size()));
    } else {
        gtk_text_buffer_set_text(buffer_.get(), text.data(), static_cast<int>(text.size()));
    }
    gtk_text_buffer_end_irreversible_action(buffer_.get());
    applyingToBuffer_ = false;
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view_.get()), !readOnly_);
    if (readOnly_) {
        AppLog::editor.notice("文本含 U+0000，编辑器以只读方式显示");
    }
    if (wasReadOnly != readOnly_ && onReadOnlyChange) onReadOnlyChange(readOnly_);
}

void EditorTextView::modelDidEdit(const TextStorage::Edit& edit) {
    if (applyingToModel_) {
        // Our own edit coming back: the buffer has it already.
        if (onEdit) onEdit(edit);
        return;
    }
    const std::string& text = model_.sourceText();
    if (readOnly_ || holdsNul(text)) {
        const std::int64_t oldLength = gtk_text_buffer_get_char_count(buffer_.get());
        reloadFromModel();
        if (onEdit) onEdit(TextStorage::Edit{{0, oldLength}, model_.textStorage().length() - oldLength});
        return;
    }
    const std::int64_t insertedLength = edit.replacedRange.length + edit.changeInLength;
    const char* from = g_utf8_offset_to_pointer(text.data(), static_cast<glong>(edit.replacedRange.location));
    const char* to = g_utf8_offset_to_pointer(from, static_cast<glong>(insertedLength));
    applyingToBuffer_ = true;
    gtk_text_buffer_begin_irreversible_action(buffer_.get());
    GtkTextIter start = iterAt(buffer_.get(), edit.replacedRange.location);
    GtkTextIter end = iterAt(buffer_.get(), edit.replacedRange.location + edit.replacedRange.length);
    gtk_text_buffer_delete(buffer_.get(), &start, &end);
    gtk_text_buffer_insert(buffer_.get(), &start, from, static_cast<int>(to - from));
    gtk_text_buffer_end_irreversible_action(buffer_.get());
    applyingToBuffer_ = false;
    if (onEdit) onEdit(edit);
}

void EditorTextView::bufferEdited(TextRange range, std::string_view text) {
    if (applyingToBuffer_) return;
    if (readOnly_) {
        // Not editable, so only a program edit gets here: the model's text
        // wins over what the buffer shows.
        reloadFromModel();
        return;
    }
    applyingToModel_ = true;
    const bool accepted = model_.replaceCharacters(range, text);
    applyingToModel_ = false;
    if (!accepted) {
        // The buffer and the model disagree: the model is the truth.
        AppLog::editor.fault("编辑器的修改被文本模型拒绝，按模型重新载入");
        reloadFromModel();
        if (onEdit) onEdit(TextStorage::Edit{{0, model_.textStorage().length()}, 0});
    }
}

void EditorTextView::onInsertText(GtkTextBuffer*, void* location, const char* text, int length, void* data) {
    auto* self = static_cast<EditorTextView*>(data);
    if (self->insertsWhileResetting_ >= 0) ++self->insertsWhileResetting_;
    const auto characters = static_cast<std::int64_t>(g_utf8_strlen(text, length));
    const std::int64_t end = gtk_text_iter_get_offset(static_cast<GtkTextIter*>(location));
    self->bufferEdited({end - characters, 0}, std::string_view(text, static_cast<std::size_t>(length)));
}

void EditorTextView::onDeleteRangeBefore(GtkTextBuffer*, void* start, void* end, void* data) {
    auto* self = static_cast<EditorTextView*>(data);
    self->pendingDeleteStart_ = gtk_text_iter_get_offset(static_cast<GtkTextIter*>(start));
    self->pendingDeleteEnd_ = gtk_text_iter_get_offset(static_cast<GtkTextIter*>(end));
}

void EditorTextView::onDeleteRangeAfter(GtkTextBuffer*, void*, void*, void* data) {
    auto* self = static_cast<EditorTextView*>(data);
    const std::int64_t from = std::min(self->pendingDeleteStart_, self->pendingDeleteEnd_);
    const std::int64_t to = std::max(self->pendingDeleteStart_, self->pendingDeleteEnd_);
    if (to > from) self->bufferEdited({from, to - from}, {});
}

void EditorTextView::onPreeditChanged(GtkWidget*, const char* preedit, void* data) {
    auto* self = static_cast<EditorTextView*>(data);
    self->preedit_ = preedit ? preedit : "";
    if (self->onPreeditChange) self->onPreeditChange(!self->preedit_.empty());
}

int EditorTextView::onKeyPressed(GtkEventController*, unsigned keyval, unsigned, int state, void* data) {
    auto* self = static_cast<EditorTextView*>(data);
    const auto modifiers = static_cast<GdkModifierType>(state) & gtk_accelerator_get_default_mod_mask();
    if (keyval == GDK_KEY_ISO_Left_Tab || (keyval == GDK_KEY_Tab && modifiers == GDK_SHIFT_MASK)) {
        self->insertBacktab();
        return TRUE;
    }
    if ((keyval == GDK_KEY_Tab || keyval == GDK_KEY_KP_Tab) && modifiers == 0) {
        self->insertTab();
        return TRUE;
    }
    return FALSE;
}

void EditorTextView::onPasteClipboard(GtkWidget* view, void*) {
    // Only plain text, whatever else the clipboard offers.
    g_signal_stop_emission_by_name(view, "paste-clipboard");
    GdkClipboard* clipboard = gtk_widget_get_clipboard(view);
    auto* weak = g_new0(GWeakRef, 1);
    g_weak_ref_init(weak, view);
    gdk_clipboard_read_text_async(
        clipboard, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* weak = static_cast<GWeakRef*>(data);
            char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), result, nullptr);
            if (auto* view = static_cast<GObject*>(g_weak_ref_get(weak))) {
                if (auto* self = static_cast<EditorTextView*>(g_object_get_data(view, selfKey)); self && text) {
                    self->insertPlainText(text);
                }
                g_object_unref(view);
            }
            g_free(text);
            g_weak_ref_clear(weak);
            g_free(weak);
        },
        weak);
}

bool EditorTextView::insertPlainText(std::string_view text) {
    if (text.empty() || readOnly_) return false;
    GtkTextBuffer* buffer = buffer_.get();
    gtk_text_buffer_begin_user_action(buffer);
    gtk_text_buffer_delete_selection(buffer, TRUE, TRUE);
    const bool inserted = gtk_text_buffer_insert_interactive_at_cursor(buffer, text.data(), static_cast<int>(text.size()),
                                                                       TRUE);
    gtk_text_buffer_end_user_action(buffer);
    gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(view_.get()), gtk_text_buffer_get_insert(buffer));
    return inserted;
}

void EditorTextView::insertTab() {
    if (readOnly_) return;
    GtkTextIter start, end;
    if (gtk_text_buffer_get_selection_bounds(buffer_.get(), &start, &end)) {
        char* selected = gtk_text_buffer_get_text(buffer_.get(), &start, &end, TRUE);
        const bool multiline = std::strchr(selected, '\n') != nullptr;
        g_free(selected);
        if (multiline) {
            shiftLines(false);
            return;
        }
    }
    insertPlainText(BlockIndent::indentUnit);
}

void EditorTextView::insertBacktab() {
    if (readOnly_) return;
    shiftLines(true);
}

void EditorTextView::shiftLines(bool outdent) {
    GtkTextBuffer* buffer = buffer_.get();
    GtkTextIter start, end;
    const bool hasSelection = gtk_text_buffer_get_selection_bounds(buffer, &start, &end);
    // Whole lines with their terminators; a selection that ends at a line's
    // start does not take that line.
    gtk_text_iter_set_line_offset(&start, 0);
    if (!hasSelection || !gtk_text_iter_starts_line(&end)) gtk_text_iter_forward_line(&end);
    char* block = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
    const auto shifted = BlockIndent::shift(block, outdent);
    g_free(block);
    if (!shifted) return;
    const std::int64_t from = gtk_text_iter_get_offset(&start);
    gtk_text_buffer_begin_user_action(buffer);
    gtk_text_buffer_delete(buffer, &start, &end);
    gtk_text_buffer_insert(buffer, &start, shifted->data(), static_cast<int>(shifted->size()));
    gtk_text_buffer_end_user_action(buffer);
    select({from, static_cast<std::int64_t>(g_utf8_strlen(shifted->data(), static_cast<gssize>(shifted->size())))});
}

bool EditorTextView::commitPreedit() {
    if (preedit_.empty()) return false;
    const std::string composed = preedit_;
    // Some input methods commit on reset and some drop the preedit: what
    // was composed stays as typed either way.
    insertsWhileResetting_ = 0;
    gtk_text_view_reset_im_context(GTK_TEXT_VIEW(view_.get()));
    const int committed = insertsWhileResetting_;
    insertsWhileResetting_ = -1;
    if (committed == 0) insertPlainText(composed);
    if (!preedit_.empty()) {
        preedit_.clear();
        if (onPreeditChange) onPreeditChange(false);
    }
    return true;
}

TextRange EditorTextView::selectedRange() const {
    GtkTextIter start, end;
    gtk_text_buffer_get_selection_bounds(buffer_.get(), &start, &end);
    const std::int64_t from = gtk_text_iter_get_offset(&start);
    return {from, gtk_text_iter_get_offset(&end) - from};
}

void EditorTextView::select(TextRange range) {
    GtkTextIter start = iterAt(buffer_.get(), range.location);
    GtkTextIter end = iterAt(buffer_.get(), range.location + range.length);
    gtk_text_buffer_select_range(buffer_.get(), &end, &start);
}

std::int64_t EditorTextView::lineForOffset(std::int64_t offset) const {
    const std::int64_t length = gtk_text_buffer_get_char_count(buffer_.get());
    const GtkTextIter iter = iterAt(buffer_.get(), std::clamp<std::int64_t>(offset, 0, length));
    return gtk_text_iter_get_line(&iter) + 1;
}

std::int64_t EditorTextView::offsetForLine(std::int64_t line) const {
    if (line < 2) return 0;
    if (line > gtk_text_buffer_get_line_count(buffer_.get())) return gtk_text_buffer_get_char_count(buffer_.get());
    GtkTextIter iter;
    gtk_text_buffer_get_iter_at_line(buffer_.get(), &iter, static_cast<int>(line - 1));
    return gtk_text_iter_get_offset(&iter);
}

}  // namespace larkspin
