#include "Window/SessionChanges.hpp"

#include <string>

namespace larkspin {

namespace {

constexpr std::string_view changedName = "sessionChanged";

}  // namespace

NotificationObserver SessionChanges::subscribe(std::function<void()> changed) {
    return center_->addObserver(std::string(changedName), nullptr,
                                [changed = std::move(changed)](const Notification&) { changed(); });
}

void SessionChanges::note() {
    center_->post(changedName, this);
}

}  // namespace larkspin
