#pragma once

#include <deque>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "App/Desktop/QuitControl.hpp"
#include "App/LaunchRestores.hpp"
#include "App/OpenOrder.hpp"
#include "App/ShellPolicy.hpp"
#include "Document/DocumentOpening.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Glib/GObjectPtr.hpp"

typedef struct _GFile GFile;
typedef struct _GtkApplication GtkApplication;
typedef struct _GtkNativeDialog GtkNativeDialog;

namespace larkspin {

// Opens the files the user names: in the open dialog (Markdown or plain
// text, several at once), on the command line, by a second launch, in the
// recent files. Whether a file is there is asked off the main thread first
// (a missing file and a link loop are said so); the opens then run side by
// side, each document opened without display, and their pages come in the
// order the files were given (`OpenOrder`). The failures are said together,
// in the order the files were named, in one message over the window in front
// once the opens in flight and the session's windows are there; each opened file joins the recent files.
// The application is held while the dialog is up and while an open runs.
// While a quit is under way no page is made: the files wait, and the
// session keeps them (`waiting`).
// What an open shows is told to the launch's restores, so that it comes in
// front of the session's windows. Main thread.
class FileOpener {
public:
    // Everything passed in outlives the opener.
    FileOpener(GtkApplication* application, QuitControl& quit, std::shared_ptr<DocumentOpener> documents,
               LaunchRestores<OpenedDocument>& restores);
    ~FileOpener();
    FileOpener(const FileOpener&) = delete;
    FileOpener& operator=(const FileOpener&) = delete;

    // Shows the open dialog (brings it up again when it is up already).
    void showDialog();
    // Opens a location; one that is no local file is said to be unopenable.
    void open(GFile* file);
    void open(std::filesystem::path path);

    // The files being checked and opened (standardised paths): the session
    // restore leaves them to their open.
    const std::multiset<std::string>& beingOpened() const { return pendingOpens_; }
    // The files named whose pages are not made yet (still checked, read or
    // waiting for their turn; not those that failed), standardised, in the
    // order they were named: what the session keeps of them at quit.
    std::vector<std::string> waiting() const;

    // The application is shutting down: the dialog goes.
    void shutdown();
    // Says the failures kept so far, unless an open or the session restore
    // is still on its way (the last of them says them).
    void reportFailures();

private:
    // An opened document and its place in the order asked.
    struct Ready {
        std::uint64_t ticket = 0;
        std::shared_ptr<OpenedDocument> document;
    };
    using Ticket = OpenOrder<Ready>::Ticket;

    Task<void> openChecked(std::filesystem::path path, Ticket ticket, QuitControl::Hold hold);
    Task<void> checkAndOpen(std::filesystem::path path, Ticket ticket);
    // An open ended (with its document, or none when it failed): the
    // documents whose turn it is get their pages, in the order asked.
    void showInOrder(Ticket ticket, std::shared_ptr<OpenedDocument> document);
    // Makes the pages of the documents whose turn came, for at most a slice
    // of the main loop's time; true once none is left. Only the last of them
    // is brought forward: the pages before it come in behind it.
    bool showSlice();
    // The slices after the first, a turn apart, the application held.
    Task<void> showRest(QuitControl::Hold hold);
    // A failure of the file named with `ticket`, said in the order named.
    void showError(Ticket ticket, std::string message);
    Task<void> reportAfterNaming();
    static void onDialogResponse(GtkNativeDialog* dialog, int response, void* self);

    GtkApplication* application_;
    QuitControl& quit_;
    std::shared_ptr<DocumentOpener> documents_;
    LaunchRestores<OpenedDocument>& restores_;
    GObjectPtr<GtkNativeDialog> dialog_;
    std::multiset<std::string> pendingOpens_;
    OpenFailureList failures_;  // not said yet
    OpenOrder<Ready> openOrder_;
    // Opened, in order, waiting for their pages.
    std::deque<Ready> toShow_;
    // Every file named whose page is not made yet, by its ticket.
    std::map<Ticket, std::string> waiting_;
    bool showing_ = false;  // showRest runs
    TaskScope tasks_;
};

}  // namespace larkspin
