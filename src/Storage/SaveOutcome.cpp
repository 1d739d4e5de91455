#include "Storage/SaveOutcome.hpp"

#include "Platform/Localization.hpp"

namespace larkspin {

namespace {
// The first `count` characters of an ASCII digest.
std::string_view leading(std::string_view text, std::size_t count) {
    return text.substr(0, std::min(count, text.size()));
}
}  // namespace

SaveFailure SaveFailure::temporaryWrite(std::string message) {
    return {.kind = Kind::temporaryWrite, .message = std::move(message)};
}
SaveFailure SaveFailure::replace(std::string message) {
    return {.kind = Kind::replace, .message = std::move(message)};
}
SaveFailure SaveFailure::coordination(std::string message) {
    return {.kind = Kind::coordination, .message = std::move(message)};
}
SaveFailure SaveFailure::verification(std::string expected, std::optional<std::string> found) {
    return {.kind = Kind::verification,
            .expectedDigest = std::move(expected),
            .found = std::move(found)};
}
SaveFailure SaveFailure::encoding() {
    return {.kind = Kind::encoding};
}

std::string SaveFailure::description() const {
    switch (kind) {
        case Kind::temporaryWrite:
            return L10n::format("save.error.temporary_write", {message});
        case Kind::replace:
            return L10n::format("save.error.replace", {message});
        case Kind::coordination:
            return L10n::format("save.error.coordination", {message});
        case Kind::verification: {
            const std::string none = L10n::text("save.error.verification_none");
            return L10n::format("save.error.verification",
                                {leading(expectedDigest, 12), found ? leading(*found, 12) : none});
        }
        case Kind::encoding:
            return L10n::text("save.error.encoding");
    }
    return {};
}

std::string SaveOutcome::description() const {
    if (const auto* saved = asSaved()) return "saved(" + saved->version.description() + ")";
    if (const auto* conflict = asConflict()) {
        return "conflict(expected: " + conflict->expected.description() +
               ", found: " + (conflict->found ? conflict->found->description() : "nil") + ")";
    }
    return "failed(" + asFailure()->description() + ")";
}

}  // namespace larkspin
