#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace larkspin {

// What the reader bridge needs of the one web view it is bound to: its
// script message handler, calls of the page function, and word when the page
// or the view goes away. `WebKitBridgePort` is the WebKitGTK form; tests use a
// fake. A port holds its web view weakly. Main thread only.
class ReaderBridgePort {
public:
    // One message that the page posted to a script message handler.
    struct ScriptMessage {
        std::string handlerName;
        bool fromMainFrame = true;
        // The web view the message came from (its address, for comparison
        // only); null when the platform does not say.
        const void* webView = nullptr;
        // The body as JSON text; none when it cannot be written as JSON
        // (undefined, a function).
        std::optional<std::string> bodyJSON;
    };

    // How one call of the page function ended.
    struct CallResult {
        // The call failed: the platform's error (PageCallError), passed on
        // unchanged.
        std::exception_ptr error;
        // Otherwise the returned value as JSON text when it is an object or an
        // array; none for anything else (undefined, null, a number, a string).
        std::optional<std::string> replyJSON;
    };

    enum class PageEnd {
        webProcessTerminated,  // the page's web content process ended
        pageReplaced,          // another page was committed in the view
        webViewGone,           // the web view was destroyed
    };

    using MessageHandler = std::function<void(const ScriptMessage&)>;
    using CallCallback = std::function<void(CallResult)>;
    using PageEndHandler = std::function<void(PageEnd)>;
    using CallID = std::uint64_t;

    virtual ~ReaderBridgePort() = default;

    // True while the web view exists.
    virtual bool isAlive() const = 0;
    // The web view's address (for comparison only); null once it is gone.
    virtual const void* webViewIdentity() const = 0;

    // Registers a script message handler under `name` in the page's world.
    // The registration keeps `handler` until it is unregistered or the web
    // view goes, whatever becomes of the port. False when the name is taken.
    virtual bool registerMessageHandler(const std::string& name, MessageHandler handler) = 0;
    // Removes the handler `name` (nothing when there is none or the view is gone).
    virtual void unregisterMessageHandler(const std::string& name) = 0;

    // Calls `window.Orvik.handleMessage(JSON.parse(message))` in the main
    // frame and page world, with the request's JSON text as `message`, and
    // awaits a returned promise. `done` is called later, at most once. The
    // web view never answers a call whose page or view is gone, so the caller
    // ends such calls itself and abandons them.
    virtual CallID callPageFunction(std::string messageJSON, CallCallback done) = 0;
    // Forgets a call: its callback will not be called.
    virtual void abandonCall(CallID call) = 0;

    // Who hears that the page or the view went away (one handler; an empty
    // function removes it).
    virtual void setPageEndHandler(PageEndHandler handler) = 0;
};

}  // namespace larkspin
