#pragma once

#include <string>

#include "Platform/Async/Task.hpp"

typedef struct _GtkWindow GtkWindow;

namespace larkspin {

// What the switch into editing mode tells and asks: AdwMessageDialogs modal
// on the page's window. Main thread.
namespace EditingQuestions {

inline constexpr const char* continueResponse = "continue";
inline constexpr const char* cancelResponse = "cancel";

// The file mixes CRLF and LF: edit anyway? Only "继续编辑" says yes; Esc,
// Enter and a dialog that goes without an answer say no.
Task<bool> confirmMixedLineEndings(GtkWindow* parent);
// The document is read-only: why, with one "好".
void showReadOnly(GtkWindow* parent, const std::string& problem);

}  // namespace EditingQuestions

}  // namespace larkspin
