#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Appearance/DesktopAppearanceSource.hpp"
#include "Appearance/Fonts/FontPanel.hpp"
#include "Platform/NotificationCenter.hpp"

namespace larkspin::test {

// A desktop whose dark preference the test sets.
class FakeDesktopAppearance final : public DesktopAppearanceSource {
public:
    bool prefersDark() const override { return dark_; }
    NotificationObserver observeChanges(std::function<void()> onChange) override {
        return changes_->addObserver("changed", nullptr,
                                     [onChange](const Notification&) { onChange(); });
    }
    // Changes the preference and tells the observers, as the desktop does.
    void setDark(bool dark) {
        dark_ = dark;
        changes_->post("changed", this);
    }

private:
    bool dark_ = false;
    std::shared_ptr<NotificationCenter> changes_ = NotificationCenter::create();
};

// Records the senders of one notification.
struct NotificationRecorder {
    NotificationRecorder(NotificationCenter& center, std::string_view name)
        : observer(center.addObserver(std::string(name), nullptr, [this](const Notification& n) {
              senders.push_back(n.sender);
          })) {}
    std::vector<const void*> senders;
    NotificationObserver observer;
};

// A font panel that remembers what it was shown and lets the test choose.
struct FakeFontPanel final : FontPanel {
    void present(const ReaderFont& font, bool monospaceOnly, bool orderFront,
                 Choice onChoose) override {
        shown = font;
        monospace = monospaceOnly;
        front = orderFront;
        choose = std::move(onChoose);
        ++presented;
    }
    ReaderFont shown;
    bool monospace = false;
    bool front = false;
    int presented = 0;
    Choice choose;  // what the panel calls when the user picks a face
};

}  // namespace larkspin::test
