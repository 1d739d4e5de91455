#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "Appearance/Theme.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Protocol/Payloads/SetTypographyPayload.hpp"

namespace larkspin {

class AccessibilityDisplaySource;
class AppearanceController;
class NoticeBarController;
class ReaderViewController;
class TypographyController;
class UserDefaults;

// Keeps every open reader's page and the windows themselves in the look in
// force: a reader it follows is told the theme (with the accessibility
// options) and the typography at once and again after each change of the
// appearance, the typography or the desktop's accessibility flags (its
// status page with it); a page's notice bar it follows, and the windows, are
// given the theme at once and after each change. Readers and bars are held
// weakly: a closed one drops out. Main thread.
class ReaderAppearanceFeed {
public:
    struct Sources {
        AppearanceController& appearance;
        TypographyController& typography;
        AccessibilityDisplaySource& accessibility;
        const UserDefaults& defaults;  // the accessibility override
        NotificationCenter& center;    // where the two controllers announce
    };

    // `applyWindowTheme` (may be empty) themes the windows.
    ReaderAppearanceFeed(Sources sources, std::function<void(const Theme&)> applyWindowTheme);
    ReaderAppearanceFeed(const ReaderAppearanceFeed&) = delete;
    ReaderAppearanceFeed& operator=(const ReaderAppearanceFeed&) = delete;

    // The program's: over its controllers and desktop monitor, with
    // `WindowTheme::apply`.
    static std::shared_ptr<ReaderAppearanceFeed> program(Sources sources);

    void follow(const std::shared_ptr<ReaderViewController>& reader);
    // A page's notice bar: the bar shown and every later one take the theme.
    void follow(const std::shared_ptr<NoticeBarController>& noticeBar);
    std::size_t followedCount();

private:
    void appearanceChanged();
    void typographyChanged();
    void pushAppearance(const std::shared_ptr<ReaderViewController>& reader);
    void pushTypography(const std::shared_ptr<ReaderViewController>& reader);
    // Once the stored families are resolved (on the workers, the first
    // time), sends the typography in force.
    Task<void> sendTypography(std::weak_ptr<ReaderViewController> weak);
    // The live readers; the dead are dropped.
    std::vector<std::shared_ptr<ReaderViewController>> live();

    Sources sources_;
    std::function<void(const Theme&)> applyWindowTheme_;
    std::vector<std::weak_ptr<ReaderViewController>> readers_;
    std::vector<std::weak_ptr<NoticeBarController>> noticeBars_;
    std::vector<NotificationObserver> observers_;
    TaskScope tasks_;  // last: pushes in flight end first
};

}  // namespace larkspin
