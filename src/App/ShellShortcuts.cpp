#include "App/ShellShortcuts.hpp"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "Window/WindowActions.hpp"
#include "Platform/Text/TextTrimming.hpp"

namespace larkspin::ShellShortcuts {

const std::vector<Entry>& applicationShortcuts() {
    static const std::vector<Entry> table{
        {"app.open", {"<Control>o"}},
        {"app.close", {"<Control>w"}},
        {"app.save", {"<Control>s"}},
        {"app.save-as", {"<Shift><Control>s"}},
        {"app.quit", {"<Control>q"}},
        {"app.settings", {"<Control>comma"}},
        {"app.help", {"F1"}},
        {"app.increase-font-size", {"<Control>plus", "<Control>equal", "<Control>KP_Add"}},
        {"app.decrease-font-size", {"<Control>minus", "<Control>KP_Subtract"}},
        {"app.actual-size", {"<Control>0", "<Control>KP_0"}},
        {"app.toggle-wide-blocks", {"<Control><Alt>w"}},
        {"app.show-body-font-panel", {"<Control>t"}},
        {"app.show-mono-font-panel", {"<Shift><Control>t"}},
        {"win.copy-file-path", {"<Alt><Shift><Control>c"}},
    };
    return table;
}

std::vector<Entry> all() {
    std::vector<Entry> entries = applicationShortcuts();
    for (const auto& shortcut : WindowActions::shortcuts()) {
        entries.push_back({shortcut.action, shortcut.accelerators});
    }
    return entries;
}

const std::vector<std::string_view>& reserved() {
    static const std::vector<std::string_view> keys{
        // The tab view's.
        "<Control>Tab", "<Shift><Control>Tab", "<Control>ISO_Left_Tab",
        "<Shift><Control>ISO_Left_Tab", "<Control>Page_Up", "<Control>Page_Down",
        "<Shift><Control>Page_Up", "<Shift><Control>Page_Down", "<Control>Home", "<Control>End",
        "<Shift><Control>Home", "<Shift><Control>End", "<Alt>1", "<Alt>2", "<Alt>3", "<Alt>4",
        "<Alt>5", "<Alt>6", "<Alt>7", "<Alt>8", "<Alt>9", "<Alt>0",
        // A text entry's.
        "<Control>a", "<Control>c", "<Control>x", "<Control>v", "<Control>z",
        "<Shift><Control>z", "<Control>period", "<Control>semicolon",
        // The primary menu's.
        "F10",
    };
    return keys;
}

std::string normalized(std::string_view accelerator) {
    std::set<std::string> modifiers;
    std::string_view rest = accelerator;
    while (rest.starts_with('<')) {
        const auto close = rest.find('>');
        if (close == std::string_view::npos) break;
        std::string name = asciiLowercased(rest.substr(1, close - 1));
        if (name == "primary" || name == "ctrl" || name == "control") name = "control";
        else if (name == "mod1" || name == "alt") name = "alt";
        else if (name == "meta" || name == "super") name = "super";
        modifiers.insert(name);
        rest.remove_prefix(close + 1);
    }
    const std::string key = rest.size() == 1 ? asciiLowercased(rest) : std::string(rest);
    std::string result;
    for (const auto& modifier : modifiers) result += modifier + "+";
    return result + key;
}

std::vector<std::string> conflicts(const std::vector<Entry>& entries,
                                   const std::vector<std::string_view>& reservedKeys) {
    std::set<std::string> taken;
    for (auto key : reservedKeys) taken.insert(normalized(key));
    std::map<std::string, std::string_view> owners;
    std::vector<std::string> problems;
    for (const auto& entry : entries) {
        for (auto accelerator : entry.accelerators) {
            const std::string key = normalized(accelerator);
            if (taken.contains(key)) {
                problems.push_back(std::string(entry.action) + " takes the reserved " + key);
            }
            const auto [owner, fresh] = owners.emplace(key, entry.action);
            if (!fresh) {
                problems.push_back(std::string(entry.action) + " shares " + key + " with " +
                                   std::string(owner->second));
            }
        }
    }
    return problems;
}

}  // namespace larkspin::ShellShortcuts
