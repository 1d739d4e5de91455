#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

#include "Appearance/Theme.hpp"
#include "Reader/Chrome/ConflictBarContent.hpp"
#include "Reader/Chrome/ConflictBarView.hpp"

namespace larkspin {

// The notice bar of one document page: a one-line strip with an icon, a
// message and the buttons, shown while the document has a problem
// with its file on disk. Which content belongs to which issue is the
// document's decision; the bar shows it, recolours it with the theme, runs a
// button's handler and says when it appears and goes. Holds its view
// strongly; the view's callback holds the controller weakly (the view may
// outlive it). Main thread. Create with `create`.
class ConflictBarController : public std::enable_shared_from_this<ConflictBarController> {
public:
    using Tone = ConflictBarContent::Tone;
    using Action = ConflictBarContent::Action;
    using Content = ConflictBarContent;

    static std::shared_ptr<ConflictBarController> create(std::shared_ptr<ConflictBarView> view,
                                                         Theme theme);
    ~ConflictBarController();
    ConflictBarController(const ConflictBarController&) = delete;
    ConflictBarController& operator=(const ConflictBarController&) = delete;

    const std::shared_ptr<ConflictBarView>& view() const { return view_; }
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

    // true after showing, false after hiding.
    std::function<void(bool)> onVisibilityChange;

private:
    ConflictBarController(std::shared_ptr<ConflictBarView> view, Theme theme);
    void connectView();
    void actionPressed(std::size_t index);

    std::shared_ptr<ConflictBarView> view_;
    Theme theme_;
    std::optional<Content> content_;
};

}  // namespace larkspin
