#pragma once

#include <string_view>

namespace larkspin {

class NotificationCenter;
class UserDefaults;

// The editor's stored preferences. Spell checking is stored and announced
// only: GTK 4 on this platform has no spell checker to turn on.
class EditorPreferences {
public:
    static constexpr std::string_view spellCheckingKey = "editor.spellChecking";
    static constexpr std::string_view showLineNumbersKey = "editor.showLineNumbers";
    static constexpr std::string_view didChangeNotification =
        "dev.corvantel.larkspin.editorPreferencesDidChange";

    EditorPreferences(UserDefaults& defaults, NotificationCenter& center);

    // False unless stored true.
    bool spellChecking() const;
    // Stores and announces a real change; the current value does nothing.
    void setSpellChecking(bool enabled);

private:
    UserDefaults& defaults_;
    NotificationCenter& center_;
};

}  // namespace larkspin
