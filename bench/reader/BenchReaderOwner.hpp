#pragma once

// The owner a benchmark's reader is made with: it counts renders (and runs
// `onRendered`, when set, at each), and rebuilds at once after a web process
// end, as a page on screen does. Links, headings and refused files are
// dropped.

#include <functional>
#include <memory>

#include "Reader/ReaderOwner.hpp"
#include "Reader/ReaderViewController.hpp"

namespace larkspin::bench {

class BenchReaderOwner final : public ReaderOwner {
public:
    void readerDidRender(const RenderedPayload&) override {
        ++rendered;
        if (onRendered) onRendered();
    }
    void readerDidReportActiveHeading(const ActiveHeadingPayload&) override {}
    void readerDidRequestOpenLink(const OpenLinkPayload&) override {}
    void readerWasDeniedResource(const std::string&) override {}
    void readerNeedsProcessRecovery(ProcessRecoveryAction action) override {
        if (action == ProcessRecoveryAction::crashLoop) return;
        if (const auto owned = reader.lock()) owned->ensureWebView();
    }

    int rendered = 0;
    std::function<void()> onRendered;
    std::weak_ptr<ReaderViewController> reader;
};

}  // namespace larkspin::bench
