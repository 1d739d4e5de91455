#pragma once

// The owner of tab pages that a display test makes without the program's
// document controller: a tab's close goes through at once, or, while
// `holdCloses` is set, waits in `held` for the test to answer it.

#include <functional>
#include <memory>
#include <vector>

#include "Window/Widgets/DocumentPageOwner.hpp"

namespace larkspin::test {

class TestPageOwner final : public DocumentPageOwner {
public:
    void reviewClose(std::shared_ptr<Document>, std::function<void(bool)> done) override {
        if (holdCloses) {
            held.push_back(std::move(done));
            return;
        }
        done(true);
    }
    void pageShown(Document&) override {}

    bool holdCloses = false;
    std::vector<std::function<void(bool)>> held;
};

}  // namespace larkspin::test
