#pragma once

// What the program's services hand the document controller and its pages,
// made afresh for one test over the test's own preference store: a
// notification centre, the appearance (no desktop: light), typography,
// editor and document preferences, a draft writer, the session's changes and
// the group windows.

#include <memory>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/TypographyController.hpp"
#include "Document/Drafts/DraftScheduler.hpp"
#include "Editor/EditorPreferences.hpp"
#include "Model/DocumentPreferences.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"
#include "Storage/RecoveryStore.hpp"
#include "Window/SessionChanges.hpp"
#include "Window/Widgets/TabGroups.hpp"
#include "Window/WindowServices.hpp"

namespace larkspin::test {

struct TestWindowServices {
    explicit TestWindowServices(UserDefaults& defaults, Clock& clock = Clock::system())
        : defaults(defaults), clock(clock) {}

    // Drafts go to `recoveryStore` when one is set.
    WindowServices value() {
        return WindowServices{defaults,   *notifications,     clock,         appearance,   typography,
                              editor,     documents,          recoveryStore, draftWriter,  sessionChanges,
                              tabGroups};
    }

    UserDefaults& defaults;
    Clock& clock;
    std::shared_ptr<NotificationCenter> notifications = NotificationCenter::create();
    AppearanceController appearance{defaults, *notifications, nullptr};
    TypographyController typography{defaults, *notifications};
    EditorPreferences editor{defaults, *notifications};
    DocumentPreferences documents{defaults, *notifications};
    std::shared_ptr<RecoveryStore> recoveryStore;
    std::shared_ptr<DraftWriter> draftWriter = std::make_shared<DraftWriter>();
    SessionChanges sessionChanges;
    TabGroups tabGroups;
};

}  // namespace larkspin::test
