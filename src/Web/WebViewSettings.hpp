#pragma once

#include <webkit/webkit.h>

#include "Platform/Glib/GObjectPtr.hpp"

namespace larkspin::WebViewSettings {

// The settings of every web view the program makes (readers, the spare,
// the diagram host): script on, and everything the pages do not use off,
// so that a page that gets past the sanitiser or the content security
// policy finds nothing more to reach.
// - no windows opened by script, no clipboard access by script (copies go
//   through the bridge), no modal dialogs, no full screen;
// - no file access from file URLs, no universal access, no top-level data
//   URLs;
// - no WebGL, WebAudio, media (elements, media source, media streams,
//   encrypted media), WebRTC;
// - no page cache or back/forward gestures;
// - developer extras only in debug builds.
// WebKitGTK 6 has no plug-ins or Java any more, and its DNS prefetching
// setting is a no-op, so neither is set here. Main thread.
GObjectPtr<WebKitSettings> make();

}  // namespace larkspin::WebViewSettings
