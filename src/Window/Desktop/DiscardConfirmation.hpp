#pragma once

#include "Document/Links/LinkOpenerSeams.hpp"
#include "Platform/Async/Task.hpp"

typedef struct _GtkWindow GtkWindow;

namespace larkspin {

// The question before unsaved text is thrown away: an AdwMessageDialog
// transient for the page's window with the heading, the body, "取消" and the
// destructive answer (`Question::openLabel`). Enter and Esc both answer
// "取消"; only the destructive button says yes, and a dialog that goes
// without an answer is a no. Main thread.
namespace DiscardConfirmation {

inline constexpr const char* cancelResponse = "cancel";
inline constexpr const char* discardResponse = "discard";

Task<bool> ask(GtkWindow* parent, OpenConfirmation::Question question);

}  // namespace DiscardConfirmation

}  // namespace larkspin
