#include "Editor/EditorPreferences.hpp"

#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"

namespace larkspin {

EditorPreferences::EditorPreferences(UserDefaults& defaults, NotificationCenter& center)
    : defaults_(defaults), center_(center) {}

bool EditorPreferences::spellChecking() const { return defaults_.boolean(spellCheckingKey).value_or(false); }

void EditorPreferences::setSpellChecking(bool enabled) {
    if (spellChecking() == enabled) return;
    defaults_.setBool(spellCheckingKey, enabled);
    center_.post(didChangeNotification, this);
}

}  // namespace larkspin
