#pragma once

#include <string>
#include <vector>

#include "Document/Links/LinkOpenerSeams.hpp"
#include "Platform/Async/Task.hpp"

typedef struct _GtkWindow GtkWindow;
typedef struct _AdwMessageDialog AdwMessageDialog;

namespace larkspin {

// The AdwMessageDialogs the program asks and tells with. Main thread.
namespace MessageQuestion {

// A dialog modal on `parent` (and destroyed with it; on its own when null)
// with `heading` and `body` as plain text, neither answers nor shown yet.
AdwMessageDialog* make(GtkWindow* parent, const std::string& heading, const std::string& body);

struct Answer {
    std::string id;
    std::string label;
};

struct YesNo {
    std::string heading;
    std::string body;
    std::vector<Answer> answers;  // the buttons, in order
    std::string yes;              // the one answer that says yes
    std::string cancel;           // what Enter and Esc answer
    bool destructive = false;     // `yes` looks destructive
};

// A confirmation as a yes/no question: "cancel" (`cancelLabel`) first, then
// `yesId` (`openLabel`); Enter and Esc cancel.
YesNo confirmation(OpenConfirmation::Question question, std::string yesId, bool destructive);

// Shows `question` and says whether `yes` was answered. Only the first
// answer counts (closing after a button answers again); a dialog that goes
// without an answer breaks the promise.
Task<bool> ask(GtkWindow* parent, YesNo question);

}  // namespace MessageQuestion

}  // namespace larkspin
