#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Window/SessionSnapshot.hpp"
#include "Window/WindowStateReporter.hpp"

// The open documents as the application shell sees them, and its menus' document commands.
namespace larkspin {

// The document commands of the File and Edit menus, carried out on the key
// document (the selected page of the active group window).
enum class DocumentCommand { close, save, saveAs, revert, copy, selectAll };

// What the application shell needs of the open documents beyond opening them
// (which goes through `DocumentOpener`). `DesktopShellDocuments` implements it
// over the program's document controller. Main thread.
class ShellDocuments {
public:
    virtual ~ShellDocuments() = default;

    // The number of open documents.
    virtual std::size_t documentCount() const = 0;
    // Writes, at once, the recovery draft of every document whose text differs
    // from what was last saved; returns how many were flushed. Synchronous as
    // far as the shell is concerned (it may be the last thing before exit).
    virtual std::size_t flushDraftsNow() = 0;
    // At termination, after MainThread::beginQuitting(): writes every
    // pending draft and waits until they are on disk.
    virtual void flushEveryDraftAndWait() = 0;
    // Asks about unsaved documents before quitting; calls `done` once with
    // true when quitting may go on (documents reviewed, saved or discarded),
    // false when the user cancelled. May answer before returning.
    virtual void reviewBeforeQuit(std::function<void(bool proceed)> done) = 0;
    // Whether the key document can carry out `command` now, and doing it.
    virtual bool canPerform(DocumentCommand command) const = 0;
    virtual void perform(DocumentCommand command) = 0;
    // The windows and documents as they stand, for the window-state log.
    virtual WindowStateSnapshot windowState() const = 0;
    // The session as the windows stand, with the files still being opened
    // (`opening`, in the order asked) kept where their pages were going.
    virtual SessionSnapshot sessionSnapshot(const std::vector<std::string>& opening) const = 0;
    // Called whenever the documents, the key document or their states change
    // (the shell re-validates its menu actions). One callback; null clears it.
    virtual void setChangeHandler(std::function<void()> handler) = 0;
};

}  // namespace larkspin
