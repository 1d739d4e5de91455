#pragma once

namespace larkspin::test {

// For the display tests that assert which window has the focus: with
// LARKSPIN_TEST_PRIVATE_DISPLAY set, starts an Xvfb of this process's own and
// points DISPLAY at it, so that no window of a test run beside it on the
// shared display can take the focus. Call before GTK opens its display. The
// server ends by itself once its last client (this process, and any program
// it started there) has gone. False when it was asked for and no server
// took connections.
bool startPrivateDisplayIfAsked();

// Ends the server started above, when GTK could not use it.
void stopPrivateDisplay();

}  // namespace larkspin::test
