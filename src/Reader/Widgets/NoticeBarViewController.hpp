#pragma once

#include <memory>
#include <vector>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"
#include "Reader/Strips/NoticeBarView.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkCssProvider GtkCssProvider;

namespace larkspin {

// The notice bar of a document page: a revealer that the page puts above its
// content, holding a 36-pixel strip with the tone's icon, the message (one
// line, ellipsised, the whole text in its tooltip) and the buttons. Its
// colours come from the theme through a style provider of its own; the strip
// has the alert role, and every show updates its accessible description with
// the message. Widget names double as identifiers for tests:
// "Orvik.conflictBar", "Orvik.conflictBar.message",
// "Orvik.conflictBar.action.<index>". Main thread.
class NoticeBarViewController final : public NoticeBarView {
public:
    static std::shared_ptr<NoticeBarViewController> create();
    ~NoticeBarViewController() override;
    NoticeBarViewController(const NoticeBarViewController&) = delete;
    NoticeBarViewController& operator=(const NoticeBarViewController&) = delete;

    // The revealer.
    GtkWidget* widget() const { return revealer_.get(); }
    GtkWidget* bar() const { return bar_; }
    GtkWidget* icon() const { return icon_; }
    GtkWidget* messageLabel() const { return label_; }
    // The buttons, in order.
    std::vector<GtkWidget*> buttons() const;

    void render(const NoticeBarPresentation& presentation) override;
    void applyPalette(const NoticeBarPalette& palette) override;
    void setRevealed(bool revealed) override;
    void announce(const std::string& message) override;

private:
    struct Button {
        GtkWidget* widget;
        SignalConnection clicked;
    };

    NoticeBarViewController();
    void build();
    void pressed(GtkWidget* button);

    GObjectPtr<GtkWidget> revealer_;
    GObjectPtr<GtkCssProvider> style_;
    GtkWidget* bar_ = nullptr;  // owned by the revealer's tree
    GtkWidget* icon_ = nullptr;
    GtkWidget* label_ = nullptr;
    GtkWidget* buttonBox_ = nullptr;
    std::vector<Button> buttons_;
};

}  // namespace larkspin
