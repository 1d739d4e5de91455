#pragma once

#include <optional>
#include <string_view>

namespace larkspin {

// The kinds of problem with a document's file (or with saving it) that its
// notice bar shows. The document raises and clears issues by kind; the bar
// tints itself by it. Raw values are the kind strings that logs show.
enum class ExternalIssueKind {
    conflict,
    externalChanged,
    unreadable,
    permission,
    saveFailed,
    recovered,
    missing,
};

std::string_view rawValue(ExternalIssueKind kind);
std::optional<ExternalIssueKind> externalIssueKindFromRawValue(std::string_view raw);

}  // namespace larkspin
