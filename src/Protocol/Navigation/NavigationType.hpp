#pragma once

namespace larkspin {

// Why the reader's web view is about to navigate, with the protocol's raw
// values. WebKitGTK numbers its WebKitNavigationType differently (its "other"
// is 5, not -1): the web layer maps WebKit's values by name
// (LINK_CLICKED → linkActivated, FORM_SUBMITTED → formSubmitted,
// BACK_FORWARD → backForward, RELOAD → reload, FORM_RESUBMITTED →
// formResubmitted, OTHER → other), never by number. Any other raw value is
// possible and is treated as unknown.
enum class NavigationType : int {
    linkActivated = 0,
    formSubmitted = 1,
    backForward = 2,
    reload = 3,
    formResubmitted = 4,
    other = -1,
};

}  // namespace larkspin
