#pragma once

#include "Appearance/Fonts/FontPanel.hpp"

typedef struct _GtkWindow GtkWindow;
typedef struct _GtkWidget GtkWidget;

namespace larkspin {

// The font panel of the program: a GtkFontChooserDialog that offers family
// and face only (no size), limited to monospace families for code. The
// dialog is made on first use and hidden, not destroyed, after each answer.
// Main thread.
class FontChooserPanel final : public FontPanel {
public:
    explicit FontChooserPanel(GtkWindow* parent = nullptr);
    ~FontChooserPanel() override;
    FontChooserPanel(const FontChooserPanel&) = delete;
    FontChooserPanel& operator=(const FontChooserPanel&) = delete;

    void present(const ReaderFont& font, bool monospaceOnly, bool orderFront,
                 Choice onChoose) override;

    // The dialog, once made; for tests.
    GtkWidget* dialog() const { return dialog_; }

private:
    static void onResponse(GtkWidget* dialog, int response, void* self);
    void respond(int response);

    GtkWindow* parent_ = nullptr;
    GtkWidget* dialog_ = nullptr;
    Choice onChoose_;
};

}  // namespace larkspin
