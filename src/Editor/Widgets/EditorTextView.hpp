#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "Model/DocumentModel.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkTextBuffer GtkTextBuffer;
typedef struct _GtkEventController GtkEventController;

namespace larkspin {

// A plain-text GtkTextView over the document's model, which stays the source
// of truth: the user's edits go into the model as they happen, and edits the
// model gets from elsewhere (a reload, a restored draft) are written into the
// buffer as one irreversible step, so undo never mixes them with typing.
// GtkTextBuffer cannot hold U+0000: a text with one shows in the view with
// U+2400 in its place and cannot be edited until the model's text has none.
// Tab indents (four spaces, or every selected line), Shift+Tab outdents the
// selected lines; each is one undo step. Paste takes only plain text. Offsets
// are characters, as in the model. Main thread.
class EditorTextView {
public:
    explicit EditorTextView(DocumentModel& model);
    ~EditorTextView();
    EditorTextView(const EditorTextView&) = delete;
    EditorTextView& operator=(const EditorTextView&) = delete;

    GtkWidget* widget() const { return view_.get(); }
    GtkTextBuffer* buffer() const { return buffer_.get(); }

    // After the buffer and the model agree on an edit of the characters.
    std::function<void(const TextStorage::Edit&)> onEdit;
    // After the input method's preedit changed: whether one remains.
    std::function<void(bool hasPreedit)> onPreeditChange;
    std::function<void(bool readOnly)> onReadOnlyChange;

    // The model's edited state changed (a save, a reload, an edit). While
    // the model is clean the buffer is marked unmodified, so that undo and
    // redo know the point of the text last saved: reaching it again (the
    // buffer unmodified once more) makes the model clean.
    void modelStateChanged();

    // The model's text holds U+0000: shown, not editable.
    bool isReadOnly() const { return readOnly_; }
    bool hasPreedit() const { return !preedit_.empty(); }

    // Tab and Shift+Tab.
    void insertTab();
    void insertBacktab();
    // Inserts `text` in place of the selection as the user's edit; an empty
    // text inserts nothing. False when nothing was inserted.
    bool insertPlainText(std::string_view text);
    // Ends input-method composition keeping what was composed; true when
    // there was a preedit.
    bool commitPreedit();

    TextRange selectedRange() const;
    void select(TextRange range);
    // 1-based line of an offset (clamped); a caret after a line break is on
    // the next line.
    std::int64_t lineForOffset(std::int64_t offset) const;
    // Start of a 1-based line; past the last line, the text's length.
    std::int64_t offsetForLine(std::int64_t line) const;

private:
    static void onInsertText(GtkTextBuffer*, void* location, const char* text, int length, void* self);
    static void onDeleteRangeBefore(GtkTextBuffer*, void* start, void* end, void* self);
    static void onDeleteRangeAfter(GtkTextBuffer*, void* start, void* end, void* self);
    static void onPreeditChanged(GtkWidget*, const char* preedit, void* self);
    static void onPasteClipboard(GtkWidget*, void* self);
    static void onModifiedChanged(GtkTextBuffer*, void* self);
    static int onKeyPressed(GtkEventController*, unsigned keyval, unsigned keycode, int state, void* self);

    void modelDidEdit(const TextStorage::Edit& edit);
    void reloadFromModel();
    void shiftLines(bool outdent);
    void bufferEdited(TextRange range, std::string_view text);

    DocumentModel& model_;
    GObjectPtr<GtkWidget> view_;
    GObjectPtr<GtkTextBuffer> buffer_;
    std::uint64_t modelObserver_ = 0;
    // An edit on its way from the buffer to the model, or back.
    bool applyingToModel_ = false;
    bool applyingToBuffer_ = false;
    bool markingUnmodified_ = false;
    bool readOnly_ = false;
    std::int64_t pendingDeleteStart_ = 0;
    std::int64_t pendingDeleteEnd_ = 0;
    std::string preedit_;
    int insertsWhileResetting_ = -1;
    SignalConnection insertText_, deleteBefore_, deleteAfter_, preeditChanged_, paste_;
    SignalConnection modifiedChanged_;
};

}  // namespace larkspin
