#include "Document/Saving/SaveDecision.hpp"

#include "Platform/Localization.hpp"

namespace larkspin {

std::string saveFailedText(const SaveFailure& failure) {
    if (!failure.leavesOriginalUnchanged())
        return L10n::format("save.error.failed_replaced", {failure.description()});
    return L10n::format("save.error.failed", {failure.description()});
}

std::string SaveError::description() const {
    switch (kind) {
    case Kind::notWritable: return message;
    case Kind::conflict:
        return L10n::text(found ? "save.error.conflict_modified" : "save.error.conflict_missing");
    case Kind::failed: return saveFailedText(failure);
    }
    return message;
}

// standardizedPath: one definition for the layer, beside the registry's
// identity (DocumentRegistry.cpp), so that saves and the registry agree.

bool isOwnFile(const std::optional<std::filesystem::path>& fileURL, const std::filesystem::path& target,
               SaveOperation operation) {
    return operation == SaveOperation::save && fileURL &&
           standardizedPath(*fileURL) == standardizedPath(target);
}

SaveDecision decideSave(const DocumentModel& model, const std::optional<std::filesystem::path>& fileURL,
                        const std::filesystem::path& target, SaveOperation operation) {
    if (!model.isWritable()) {
        auto reason = model.writabilityProblem();
        return {SaveDecision::Kind::refuse, reason ? *reason : L10n::text("save.error.not_writable"), {}};
    }
    const bool own = isOwnFile(fileURL, target, operation);
    if (own && !model.isDirty() && model.diskVersion() && !model.isMissing() &&
        !model.conflictVersion())
        return {SaveDecision::Kind::nothingToDo, {}, {}};
    return {SaveDecision::Kind::write, {}, own ? model.diskVersion() : std::nullopt};
}

}  // namespace larkspin
