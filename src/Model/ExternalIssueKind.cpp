#include "Model/ExternalIssueKind.hpp"

#include <array>
#include <utility>

namespace larkspin {

namespace {
constexpr std::array<std::pair<ExternalIssueKind, std::string_view>, 7> kRawValues{{
    {ExternalIssueKind::conflict, "conflict"},
    {ExternalIssueKind::externalChanged, "externalChanged"},
    {ExternalIssueKind::unreadable, "unreadable"},
    {ExternalIssueKind::permission, "permission"},
    {ExternalIssueKind::saveFailed, "saveFailed"},
    {ExternalIssueKind::recovered, "recovered"},
    {ExternalIssueKind::missing, "missing"},
}};
}  // namespace

std::string_view rawValue(ExternalIssueKind kind) {
    for (const auto& [value, raw] : kRawValues) {
        if (value == kind) return raw;
    }
    return "conflict";
}

std::optional<ExternalIssueKind> externalIssueKindFromRawValue(std::string_view raw) {
    for (const auto& [value, text] : kRawValues) {
        if (text == raw) return value;
    }
    return std::nullopt;
}

}  // namespace larkspin
