#include "App/LaunchSequence.hpp"

namespace larkspin::LaunchSequence {

void willFinish(bool isTestHost, const LaunchSteps& steps) {
    // A migrated preference or draft must be in place before anything reads it.
    if (!isTestHost && steps.migrate) steps.migrate();
}

void didFinish(bool isTestHost, const LaunchSteps& steps) {
    if (steps.installMenus) steps.installMenus();
    if (!steps.after) return;
    // All armed from the same moment: the restore comes first, the spare
    // last, so that it never competes with the first document's load.
    steps.after(windowStateDelay, steps.logWindowState);
    steps.after(draftRestoreDelay, isTestHost ? steps.releaseLaunchHold : steps.restoreDrafts);
    steps.after(spareDelay, steps.schedulePrewarm);
}

}  // namespace larkspin::LaunchSequence
