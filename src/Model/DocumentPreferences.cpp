#include "Model/DocumentPreferences.hpp"

#include "Platform/Localization.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"

namespace larkspin {

std::string_view rawValue(ExternalChangePolicy policy) {
    switch (policy) {
        case ExternalChangePolicy::reload: return "reload";
        case ExternalChangePolicy::ask: return "ask";
    }
    return "reload";
}

std::optional<ExternalChangePolicy> externalChangePolicyFromRaw(std::string_view raw) {
    for (auto policy : allExternalChangePolicies) {
        if (rawValue(policy) == raw) return policy;
    }
    return std::nullopt;
}

std::string localizedName(ExternalChangePolicy policy) {
    switch (policy) {
        case ExternalChangePolicy::reload: return L10n::text("settings.general.external_change.reload");
        case ExternalChangePolicy::ask: return L10n::text("settings.general.external_change.ask");
    }
    return {};
}

DocumentPreferences::DocumentPreferences(UserDefaults& defaults, NotificationCenter& center)
    : defaults_(defaults), center_(center) {}

ExternalChangePolicy DocumentPreferences::externalChangePolicy() const {
    const auto stored = defaults_.string(externalChangePolicyKey);
    return stored ? externalChangePolicyFromRaw(*stored).value_or(ExternalChangePolicy::reload)
                  : ExternalChangePolicy::reload;
}

void DocumentPreferences::setExternalChangePolicy(ExternalChangePolicy policy) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (policy == externalChangePolicy()) return;
    defaults_.setString(externalChangePolicyKey, std::string(rawValue(policy)));
    center_.post(didChangeNotification, this);
}

}  // namespace larkspin
