#pragma once

#include <memory>

namespace larkspin {

class DiagramRenderService;

// The application's single instances that the reader's deciding code uses
// by default but that are made over WebKit (defined beside the web views).
namespace SharedServices {

// The diagram render service over the default web context, which the
// reader's web views share; null when the renderer's files are missing.
std::shared_ptr<DiagramRenderService> diagramService();

}  // namespace SharedServices

}  // namespace larkspin
