#pragma once

#include <filesystem>
#include <memory>

#include "Document/DocumentOpening.hpp"
#include "Platform/Async/Task.hpp"
#include "Storage/RecoveryStore.hpp"

namespace larkspin {

// The launch's restore of the unsaved text an instance that did not end
// cleanly left as drafts: each comes back into its document through the
// controller (see RecoveryLaunch), the stale temporary files of killed
// writes beside the preferences going as well. What came back is logged, and
// so is a restore that failed: it never fails the launch. Main thread.
class DraftRestore {
public:
    // `preferencesFolder` is where the preferences file is.
    DraftRestore(std::shared_ptr<RecoveryStore> store, std::shared_ptr<DocumentOpener> documents,
                 std::filesystem::path preferencesFolder);

    // Restores the drafts; ends only by cancellation otherwise. Await it from
    // a task of the owner's scope.
    Task<void> run();

private:
    std::shared_ptr<RecoveryStore> store_;
    std::shared_ptr<DocumentOpener> documents_;
    std::filesystem::path preferencesFolder_;
};

}  // namespace larkspin
