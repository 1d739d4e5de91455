#pragma once

// A URL scheme handler that writes down the address of every request its web
// view makes, then hands the request to the real handler. Web-view tests
// route it in place of the real one to see everything a page asked for.
// Header-only, like the rest of the web-view test support.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Protocol/Schemes/SchemeHandler.hpp"

namespace larkspin::test {

class RecordingSchemeHandler final : public SchemeHandler {
public:
    explicit RecordingSchemeHandler(std::shared_ptr<SchemeHandler> inner)
        : inner_(std::move(inner)) {}

    void start(std::shared_ptr<SchemeTask> task) override {
        requests_.push_back(task->requestURL().value_or("<no address>"));
        inner_->start(std::move(task));
    }
    void stop(const SchemeTask& task) override { inner_->stop(task); }
    void stopAll(SchemeTask::WebViewKey webView) override { inner_->stopAll(webView); }

    // Every request's address, in the order they came.
    const std::vector<std::string>& requests() const { return requests_; }

private:
    std::shared_ptr<SchemeHandler> inner_;
    std::vector<std::string> requests_;
};

}  // namespace larkspin::test
