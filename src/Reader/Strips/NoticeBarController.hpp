#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

#include "Appearance/Theme.hpp"
#include "Reader/Strips/NoticeBarContent.hpp"
#include "Reader/Strips/NoticeBarView.hpp"

namespace larkspin {

// The notice bar of one document page: a one-line strip with an icon, a
// message and the buttons, shown while the document has a problem
// with its file on disk. Which content belongs to which issue is the
// document's decision; the bar shows it, recolours it with the theme, runs a
// button's handler and says when it appears and goes. Holds its view
// strongly; the view's callback holds the controller weakly (the view may
// outlive it). Main thread. Create with `create`.
class NoticeBarController : public std::enable_shared_from_this<NoticeBarController> {
public:
    using Tone = NoticeBarContent::Tone;
    using Action = NoticeBarContent::Action;
    using Content = NoticeBarContent;

    static std::shared_ptr<NoticeBarController> create(std::shared_ptr<NoticeBarView> view,
                                                       Theme theme);
    ~NoticeBarController();
    NoticeBarController(const NoticeBarController&) = delete;
    NoticeBarController& operator=(const NoticeBarController&) = delete;

    const std::shared_ptr<NoticeBarView>& view() const { return view_; }
    // What is shown; none while hidden.
    const std::optional<Content>& content() const { return content_; }
    const Theme& theme() const { return theme_; }

    // Shows the content, or replaces what is shown (buttons included), and
    // announces its message each time.
    void show(Content content);
    // Hides the bar; nothing at all when it shows nothing.
    void hide();
    // The theme changed: the colours follow at once.
    void applyTheme(Theme theme);

private:
    NoticeBarController(std::shared_ptr<NoticeBarView> view, Theme theme);
    void connectView();
    void actionPressed(std::size_t index);

    std::shared_ptr<NoticeBarView> view_;
    Theme theme_;
    std::optional<Content> content_;
};

}  // namespace larkspin
