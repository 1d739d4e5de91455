#pragma once

#include <functional>
#include <memory>

#include "Document/Links/LinkOpenerSeams.hpp"

typedef struct _GtkWindow GtkWindow;

namespace larkspin {

// The question before another file goes to its default application, as an
// AdwMessageDialog transient for the document's window (or on its own when
// there is none): heading, body, "取消" and "打开". Both Enter and Esc
// answer "取消"; only the "打开" button opens. The answer comes through the
// dialog's "response" signal; a dialog destroyed without one is a no.
// Main thread.
class MessageDialogConfirmation final : public OpenConfirmation {
public:
    // `parent` gives the window to attach the dialog to at the time of
    // asking (null for none).
    explicit MessageDialogConfirmation(std::function<GtkWindow*()> parent);

    Task<bool> confirm(Question question) override;

    // The response identifiers.
    static constexpr const char* cancelResponse = "cancel";
    static constexpr const char* openResponse = "open";

private:
    std::function<GtkWindow*()> parent_;
};

}  // namespace larkspin
