#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Reader/ReaderOwner.hpp"
#include "Reader/ReaderViewController.hpp"

namespace larkspin::test {

// A reader's owner that keeps what it was told. Without `recover` a process
// end or a retry rebuilds at once, as a page on screen does; `onEvent` runs
// after each event is kept (a test may destroy the reader there).
class RecordingOwner final : public ReaderOwner {
public:
    void readerDidRender(const RenderedPayload& reply) override {
        rendered.push_back(reply.headings);
        event("rendered");
    }
    void readerDidReportActiveHeading(const ActiveHeadingPayload& heading) override {
        activeHeadings.push_back(heading.id);
        event("active heading");
    }
    void readerDidRequestOpenLink(const OpenLinkPayload& link) override {
        links.push_back(link);
        event("open link");
    }
    void readerWasDeniedResource(const std::string& path) override {
        denied.push_back(path);
        event("denied");
    }
    void readerNeedsProcessRecovery(ProcessRecoveryAction action) override {
        recoveries.push_back(action);
        if (recover) {
            recover(action);
        } else if (action != ProcessRecoveryAction::crashLoop) {
            if (const auto owned = reader.lock()) owned->ensureWebView();
        }
        event("recovery");
    }

    std::weak_ptr<ReaderViewController> reader;  // rebuilt at once without `recover`
    std::function<void(ProcessRecoveryAction)> recover;
    std::function<void(const std::string& event)> onEvent;
    std::vector<std::vector<BridgeHeading>> rendered;
    std::vector<std::string> activeHeadings;
    std::vector<OpenLinkPayload> links;
    std::vector<std::string> denied;
    std::vector<ProcessRecoveryAction> recoveries;

private:
    void event(const std::string& name) {
        if (onEvent) onEvent(name);
    }
};

}  // namespace larkspin::test
