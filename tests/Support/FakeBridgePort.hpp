#pragma once

#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Protocol/Envelope/BridgeEnvelope.hpp"
#include "Protocol/Bridge/ReaderBridgePort.hpp"

namespace larkspin::test {

// A web view as the bridge sees it: registrations it keeps whatever becomes of
// the bridge, calls that wait until the test answers them, and page ends on
// command.
class FakeBridgePort final : public ReaderBridgePort {
public:
    struct Call {
        CallID id = 0;
        std::string messageJSON;
        CallCallback done;
        PageCall page;  // how it was called (entry message with the text for callPageFunction)
    };

    bool isAlive() const override { return alive; }
    const void* webViewIdentity() const override { return alive ? this : nullptr; }
    bool registerMessageHandler(const std::string& name, MessageHandler handler) override {
        if (!alive || handlers.contains(name)) return false;
        handlers.emplace(name, std::move(handler));
        return true;
    }
    void unregisterMessageHandler(const std::string& name) override { handlers.erase(name); }
    CallID callPageFunction(std::string messageJSON, CallCallback done) override {
        PageCall page;
        page.text = messageJSON;
        calls.push_back({++lastID, std::move(messageJSON), std::move(done), std::move(page)});
        return lastID;
    }
    CallID callPage(PageCall call, CallCallback done) override {
        std::string text = call.text;
        calls.push_back({++lastID, std::move(text), std::move(done), std::move(call)});
        return lastID;
    }
    void abandonCall(CallID id) override { abandoned.push_back(id); }
    void setPageEndHandler(PageEndHandler handler) override { pageEnd = std::move(handler); }

    // The page posts `body` (JSON text) to the handler "orvik".
    void post(std::optional<std::string> body, std::string handler = "orvik") {
        ScriptMessage message;
        message.handlerName = handler;
        message.webView = this;
        message.bodyJSON = std::move(body);
        deliver(message);
    }
    void deliver(const ScriptMessage& message) {
        const auto found = handlers.find(message.handlerName);
        if (found == handlers.end()) return;
        const MessageHandler handler = found->second;
        handler(message);
    }
    BridgeEnvelope request(std::size_t index) const {
        return BridgeEnvelope::decode(calls.at(index).messageJSON);
    }
    // Answers call `index` with `reply` (JSON text, or none).
    void answer(std::size_t index, std::optional<std::string> reply) {
        CallResult result;
        result.replyJSON = std::move(reply);
        calls.at(index).done(std::move(result));
    }
    void fail(std::size_t index, std::exception_ptr error) {
        CallResult result;
        result.error = std::move(error);
        calls.at(index).done(std::move(result));
    }
    void end(PageEnd how) {
        if (how == PageEnd::webViewGone) {
            alive = false;
            handlers.clear();
        }
        if (pageEnd) pageEnd(how);
    }

    bool alive = true;
    std::map<std::string, MessageHandler> handlers;
    std::vector<Call> calls;
    std::vector<CallID> abandoned;
    PageEndHandler pageEnd;
    CallID lastID = 0;
};

}  // namespace larkspin::test
