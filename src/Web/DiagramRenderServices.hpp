#pragma once

#include <webkit/webkit.h>

#include <memory>

#include "Platform/Async/Clock.hpp"
#include "Protocol/Diagrams/DiagramRenderService.hpp"

namespace larkspin {

class AppResourceSchemeHandler;

namespace DiagramRenderServices {

// The program's one diagram render service, made on first use over the
// default web context (the one the reader's web views share) with the
// default configuration; null for the life of the process when the renderer
// resources are missing (the reader then answers diagram requests
// "unavailable" itself). Main thread only.
std::shared_ptr<DiagramRenderService> shared();

// A service whose hosts are DiagramHostWebViews in `context`, all served by
// `schemeHandler`. For the shared instance, tests and benchmarks.
std::shared_ptr<DiagramRenderService> make(
    WebKitWebContext* context, std::shared_ptr<AppResourceSchemeHandler> schemeHandler,
    DiagramRenderService::Configuration configuration = {}, Clock& clock = Clock::system());

}  // namespace DiagramRenderServices

}  // namespace larkspin
