#pragma once

#include <string>

#include "Appearance/Fonts/FontPanel.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"

typedef struct _GtkWindow GtkWindow;
typedef struct _GtkWidget GtkWidget;

namespace larkspin {

// The font panel of the program: a GtkFontChooserDialog that offers family
// and face only (no size), limited to monospace families for code. The
// dialog is made on first use and hidden, not destroyed, after each answer.
// The chosen family is resolved on the shared workers (for the face's
// PostScript name and weight) before the choice is passed on. Main thread.
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
    Task<void> choose(FontPanelSelection selection, std::string faceName);

    GtkWindow* parent_ = nullptr;
    GtkWidget* dialog_ = nullptr;
    Choice onChoose_;
    TaskScope tasks_;  // last: a choice being resolved ends with the panel
};

}  // namespace larkspin
