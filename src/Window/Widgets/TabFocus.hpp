#pragma once

#include <glib-object.h>

#include "Platform/Glib/SignalConnection.hpp"

typedef struct _AdwTabView AdwTabView;
typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace larkspin {

class DocumentPage;
class TabGroups;

// Gives each tab of a window its keyboard focus back when it is selected, as
// if each tab were a window keeping a focus of its own.
//
// GTK keeps one focus per window. A tab view moves a focus that was in the
// page it hides to the page it shows: to the widget that had it there last,
// when that one still exists, else to the page's first focusable widget (the
// outline's first row). A page whose web view was given up has neither its
// old view nor a new one at that moment (it is made once the selection has
// settled), and the window then hands the focus to the first widget of the
// header: the keys went to the sidebar button. So the widget each page had
// the focus on when the focus left it is kept with the page, and once the
// selection has settled the selected page takes the focus back (that widget,
// or else its content: the reader's page, made again by then, or the editor).
// Only while the focus is in the tabs, or nowhere: a focus on the header's
// buttons or in the tab bar stays where it is. Main thread.
class TabFocus {
public:
    // `window` holds `tabs`, whose children are the pages of `pages`.
    TabFocus(GtkWindow* window, AdwTabView* tabs, TabGroups& pages);
    ~TabFocus();
    TabFocus(const TabFocus&) = delete;
    TabFocus& operator=(const TabFocus&) = delete;

    // The selection is changing (told at each change, before it settles).
    void selectionChanging();
    // The selection has settled on `page` (null: none), shown with its reader.
    void settled(DocumentPage* page);

private:
    static void focusChanged(GObject* window, GParamSpec*, gpointer self);
    // The page whose widgets hold `widget`, or null.
    DocumentPage* pageHolding(GtkWidget* widget) const;
    bool focusInTabs() const;

    GtkWindow* window_;
    AdwTabView* tabs_;
    TabGroups& pages_;
    GWeakRef focus_;             // the window's focus widget, as last seen
    bool giveBack_ = false;      // the page selected next takes the focus
    SignalConnection changed_;
};

}  // namespace larkspin
