#pragma once

#include <memory>

namespace larkspin {

class AppearanceController;
class Clock;
class DocumentPreferences;
class DraftWriter;
class EditorPreferences;
class NotificationCenter;
class RecoveryStore;
class SessionChanges;
class TabGroups;
class TypographyController;
class UserDefaults;

// The program's shared instances that the document controller and each tab
// page work with, made once by the program's services and handed down as one
// value; tests build their own. Everything here outlives the controller, its
// documents and its pages. Main thread.
struct WindowServices {
    UserDefaults& defaults;
    NotificationCenter& notifications;  // where the controllers below announce
    Clock& clock;
    AppearanceController& appearance;
    TypographyController& typography;
    EditorPreferences& editorPreferences;
    DocumentPreferences& documentPreferences;
    // Where documents keep their recovery drafts; null: none are kept.
    std::shared_ptr<RecoveryStore> recoveryStore;
    // The one queue of every document's recovery drafts.
    std::shared_ptr<DraftWriter> draftWriter;
    SessionChanges& sessionChanges;
    // The group windows and the pages in them.
    TabGroups& tabGroups;
};

}  // namespace larkspin
