#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "Document/DocumentOpening.hpp"
#include "Platform/Async/Task.hpp"
#include "Window/SessionChanges.hpp"

typedef struct _GtkApplication GtkApplication;

namespace larkspin {

class SerialExecutor;
class TabGroupWindow;
class TabGroups;

// The launch's restore of the kept session: reads the session file on the
// session's queue, asks off the main thread which of its files are still
// there, opens every document (without display) through the controller, then
// lays each group window out in full (its pages in order, its selection, its
// size) and shows it once. Files that are open already, or that the launch is
// opening (`beingOpened`, looked at again after each open), keep the pages
// their own opens give them. Owned by the shell; main thread.
class SessionRestore {
public:
    // Makes the page of a document opened without display at the end of a
    // group window, selected or not, presenting nothing.
    using PlacePage = std::function<void(OpenedDocument&, TabGroupWindow&, bool select)>;

    struct Dependencies {
        std::filesystem::path folder;  // where the session file is
        std::shared_ptr<SerialExecutor> queue;  // the session's reads and writes
        std::shared_ptr<DocumentOpener> documents;
        PlacePage placePage;
        GtkApplication* application = nullptr;  // the new windows'; may be null
        SessionChanges sessionChanges;  // the new windows note on it
        TabGroups& groups;  // where the new windows go
    };

    // The queue, the documents and placePage are required
    // (std::invalid_argument otherwise). `beingOpened` outlives the restore.
    SessionRestore(Dependencies dependencies, const std::multiset<std::string>& beingOpened);

    // Brings the windows back; a session that cannot be read restores none
    // (logged). Await it from a task of the owner's scope.
    Task<void> run();

private:
    Dependencies dependencies_;
    const std::multiset<std::string>& beingOpened_;
};

}  // namespace larkspin
