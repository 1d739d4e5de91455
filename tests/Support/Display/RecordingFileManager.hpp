#pragma once

// A file manager that shows nothing and keeps what it was asked to show, for
// the pages of display tests (the desktop's would open a window).

#include <memory>
#include <string>
#include <vector>

#include "Platform/Async/Task.hpp"
#include "Web/Desktop/FileManagerReveal.hpp"

namespace larkspin::test {

class RecordingFileManager {
public:
    // Every file URI asked for through `port()`'s ShowItems, in order.
    const std::vector<std::string>& shown() const { return *shown_; }

    FileManagerReveal::Port port() const {
        auto shown = shown_;
        return FileManagerReveal::Port{
            [shown](std::string uri) { return record(shown, std::move(uri)); },
            [](std::string) { return refuse(); }};
    }

private:
    static Task<bool> record(std::shared_ptr<std::vector<std::string>> shown, std::string uri) {
        shown->push_back(std::move(uri));
        co_return true;
    }
    static Task<bool> refuse() { co_return false; }

    std::shared_ptr<std::vector<std::string>> shown_ = std::make_shared<std::vector<std::string>>();
};

}  // namespace larkspin::test
