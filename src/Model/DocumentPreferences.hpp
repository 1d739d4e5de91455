#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace larkspin {

class UserDefaults;
class NotificationCenter;

// What a clean document does when its file changes on disk.
enum class ExternalChangePolicy { reload, ask };

inline constexpr ExternalChangePolicy allExternalChangePolicies[] = {ExternalChangePolicy::reload,
                                                                     ExternalChangePolicy::ask};

std::string_view rawValue(ExternalChangePolicy policy);
std::optional<ExternalChangePolicy> externalChangePolicyFromRaw(std::string_view raw);
// The name shown in the settings window.
std::string localizedName(ExternalChangePolicy policy);

// The shared store of the document preference. Main thread.
class DocumentPreferences {
public:
    static constexpr std::string_view externalChangePolicyKey = "document.externalChangePolicy";
    static constexpr std::string_view didChangeNotification =
        "dev.corvantel.larkspin.documentPreferencesDidChange";

    DocumentPreferences(UserDefaults& defaults, NotificationCenter& center);

    UserDefaults& defaults() const { return defaults_; }

    // "reload" unless "ask" is stored; anything else reads as "reload".
    ExternalChangePolicy externalChangePolicy() const;
    // Stores and announces a real change; setting the current value does nothing.
    void setExternalChangePolicy(ExternalChangePolicy policy);

private:
    UserDefaults& defaults_;
    NotificationCenter& center_;
};

}  // namespace larkspin
