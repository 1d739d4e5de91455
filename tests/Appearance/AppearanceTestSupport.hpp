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
        return changes_->addObserver(
            "changed", nullptr,
            [onChange = std::move(onChange)](const Notification&) { onChange(); });
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
class NotificationRecorder {
public:
    NotificationRecorder(NotificationCenter& center, std::string name)
        : observer_(center.addObserver(std::move(name), nullptr, [this](const Notification& n) {
              senders.push_back(n.sender);
          })) {}
    std::vector<const void*> senders;

private:
    NotificationObserver observer_;
};

// A font panel that remembers what it was shown and lets the test choose.
class FakeFontPanel final : public FontPanel {
public:
    void present(const ReaderFont& font, bool monospaceOnly, bool orderFront,
                 Choice onChoose) override {
        shown = font;
        monospace = monospaceOnly;
        front = orderFront;
        choice = std::move(onChoose);
        ++presented;
    }
    void choose(FontPanelSelection selection) { choice(selection); }

    ReaderFont shown;
    bool monospace = false;
    bool front = false;
    int presented = 0;
    Choice choice;
};

}  // namespace larkspin::test
