#pragma once

#include <exception>
#include <functional>
#include <optional>

#include "Protocol/Diagrams/DiagramHostProtocol.hpp"

namespace larkspin {

// What the diagram render service needs of one host: a hidden page that can
// be loaded, asked to render one diagram, and torn down. `DiagramHostWebView`
// (src/Web) is the real one; tests use fakes.
//
// Every callback is called at most once, on the main thread, on a later turn
// of the main loop: never inside the call that was given it. Main thread only.
class DiagramHostDriving {
public:
    // How a load ended: no error once the page said "ready".
    using LoadDone = std::function<void(std::exception_ptr error)>;
    // How a render ended: the page's response, or the error.
    struct RenderOutcome {
        std::optional<DiagramHostResponse> response;
        std::exception_ptr error;
    };
    using RenderDone = std::function<void(RenderOutcome)>;

    virtual ~DiagramHostDriving() = default;

    // Prepares the host and reports when its page is ready, or why it is not
    // (DiagramHostError::loadFailed, or ::destroyed when destroy() came first).
    // There is no time-out here: the service bounds the whole render.
    virtual void load(LoadDone done) = 0;
    // Sends one request and reports the page's response. Errors:
    // DiagramHostError (notLoaded, invalidResponse), BridgeError::remote,
    // PageCallError, CodingError.
    virtual void render(DiagramHostRequest request, RenderDone done) = 0;
    // Tears the host down at once and ends its web content process, so that
    // a page stuck in a layout stops using a processor; a waiting load()
    // reports DiagramHostError::destroyed. Never throws; safe to repeat.
    virtual void destroy() = 0;
};

}  // namespace larkspin
