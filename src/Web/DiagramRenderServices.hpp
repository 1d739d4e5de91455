#pragma once

#include <webkit/webkit.h>

#include <memory>

#include "Platform/Async/Clock.hpp"
#include "Protocol/Diagrams/DiagramRenderService.hpp"

namespace larkspin {

class AppResourceSchemeHandler;

namespace DiagramRenderServices {

// A service whose hosts are DiagramHostWebViews in `context`, all served by
// `schemeHandler`. The application's services make the program's one
// instance (over the web context the reader's web views share); tests and
// benchmarks make their own. Main thread only.
std::shared_ptr<DiagramRenderService> make(
    WebKitWebContext* context, std::shared_ptr<AppResourceSchemeHandler> schemeHandler,
    DiagramRenderService::Configuration configuration = {}, Clock& clock = Clock::system());

}  // namespace DiagramRenderServices

}  // namespace larkspin
