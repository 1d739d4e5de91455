#pragma once

#include <cstddef>
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
        // The body as JSON text: a string body is taken as that text itself
        // (the page posts its envelopes as strings), anything else is
        // written as JSON; none when it cannot be (undefined, a function).
        std::optional<std::string> bodyJSON;
    };

    // How one call of the page function ended.
    struct CallResult {
        // The call failed: the platform's error (PageCallError), passed on
        // unchanged.
        std::exception_ptr error;
        // Otherwise the returned value as JSON text: a string is taken as
        // that text itself (the reading page answers so), an object or an
        // array is written as JSON; none for anything else (undefined, null,
        // a number).
        std::optional<std::string> replyJSON;
    };

    enum class PageEnd {
        // The page's web content process ended. The WebKit port does not
        // report it: the view's owner tells the bridge
        // (ReaderBridge::webProcessDidTerminate).
        webProcessTerminated,
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

    // Calls the page's entry (`window.Orvik.handleMessageText(message)`) in
    // the main frame and page world, with the request's JSON text as
    // `message`, and awaits a returned promise. `done` is called later, at most once. The
    // web view never answers a call whose page or view is gone, so the caller
    // ends such calls itself and abandons them.
    virtual CallID callPageFunction(std::string messageJSON, CallCallback done) = 0;
    // One call of the reading page's text transport (`WebKitBridgePort` names
    // the page functions). A text too large for one call crosses in slices,
    // each a call of its own.
    struct PageCall {
        enum class Entry {
            // `handleMessageText(text, transfer, index, replySliceBytes)`: the
            // request's text, or the last slice of transfer `transfer` (slice
            // `index`, the earlier ones appended before). A reply longer than
            // `replySliceBytes` (0: no limit) is kept by the page and answered
            // with its first slice and a header (see ReaderBridge).
            message,
            // `appendMessageText(transfer, index, text)`: slice `index` of the
            // request text `transfer`.
            appendSlice,
            // `takeReplyText(transfer, index)`: slice `index` of the kept reply
            // `transfer`.
            takeReplySlice,
        };
        Entry entry = Entry::message;
        std::string text;
        std::string transfer;  // empty: a whole text, no transfer
        std::int64_t index = 0;
        std::size_t replySliceBytes = 0;
    };
    // Calls the reading page's transport entry `call.entry` in the main frame
    // and page world, as `callPageFunction` does.
    virtual CallID callPage(PageCall call, CallCallback done) = 0;
    // Forgets a call: its callback will not be called.
    virtual void abandonCall(CallID call) = 0;

    // Who hears that the page or the view went away (one handler; an empty
    // function removes it).
    virtual void setPageEndHandler(PageEndHandler handler) = 0;
};

}  // namespace larkspin
