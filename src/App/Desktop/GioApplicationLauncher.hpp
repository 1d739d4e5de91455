#pragma once

#include "Document/Links/LinkOpenerSeams.hpp"

namespace larkspin {

// The desktop's default application through GIO
// (g_app_info_launch_default_for_uri_async, which goes through the
// OpenURI portal inside a sandbox), with the display's launch context so
// that the application starts on this display with startup notification.
// A refusal carries GIO's own message ("no application is registered…").
// Main thread.
class GioApplicationLauncher final : public DefaultApplicationLauncher {
public:
    Task<Result> launch(std::string uri) override;
};

}  // namespace larkspin
