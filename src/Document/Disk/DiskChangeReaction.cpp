#include "Document/Disk/DiskChangeReaction.hpp"

#include "Model/DocumentModel.hpp"

namespace larkspin {

DiskChangeAction decideDiskChange(const DiskChangeSituation& s) {
    using A = DiskChangeAction;
    // No decision is taken against a file that a save of ours may be writing.
    if (s.saving) return A::park;
    switch (s.finding) {
        case DiskFinding::permissionDenied:
            return A::permission;
        case DiskFinding::readError:
            return A::readError;
        case DiskFinding::vanished:
            if (s.gracePending) return A::awaitGrace;
            return s.lastLoss == FileLoss::renamed ? A::startGrace : A::missingNow;
        case DiskFinding::sameContent:
            if (s.conflictRecorded && s.conflictHasFoundContent) return A::keepConflict;
            if (s.issueFlagRaised) return A::acceptRecovered;
            return s.baselineIdentical ? A::clearIssues : A::acceptVersion;
        case DiskFinding::newContent:
            if (s.dirty || s.conflictRecorded) return A::conflict;
            return s.policy == ExternalChangePolicy::ask ? A::ask : A::reload;
    }
    return A::clearIssues;
}

DiskFinding classifyOutcome(const ContentStabilizer::Outcome& outcome,
                            const std::optional<DiskVersion>& baseline) {
    if (const auto* found = outcome.stableVersion()) {
        return baseline && baseline->hasSameContent(*found) ? DiskFinding::sameContent
                                                            : DiskFinding::newContent;
    }
    switch (outcome.unreadableReason()->failure.kind) {
        case DocumentLoadFailure::Kind::permissionDenied:
            return DiskFinding::permissionDenied;
        case DocumentLoadFailure::Kind::notFound:
        case DocumentLoadFailure::Kind::isDirectory:
            return DiskFinding::vanished;
        case DocumentLoadFailure::Kind::readError:
            break;
    }
    return DiskFinding::readError;
}

DiskChangeSituation describeSituation(const DocumentModel& model,
                                      const ContentStabilizer::Outcome& outcome,
                                      ExternalChangePolicy policy, FileLoss lastLoss,
                                      bool gracePending) {
    DiskChangeSituation s;
    s.finding = classifyOutcome(outcome, model.diskVersion());
    s.saving = model.isSaving();
    s.dirty = model.isDirty();
    s.conflictRecorded = model.conflictVersion().has_value();
    if (const auto* found = outcome.stableVersion()) {
        s.conflictHasFoundContent =
            s.conflictRecorded && model.conflictVersion()->hasSameContent(*found);
        s.baselineIdentical = model.diskVersion() == *found;
    }
    s.issueFlagRaised = model.isMissing() || model.isAccessDenied() || s.conflictRecorded;
    s.policy = policy;
    s.lastLoss = lastLoss;
    s.gracePending = gracePending;
    return s;
}

std::string_view rawValue(DiskChangeAction action) {
    switch (action) {
        case DiskChangeAction::park: return "park";
        case DiskChangeAction::keepConflict: return "keepConflict";
        case DiskChangeAction::clearIssues: return "clearIssues";
        case DiskChangeAction::acceptVersion: return "acceptVersion";
        case DiskChangeAction::acceptRecovered: return "acceptRecovered";
        case DiskChangeAction::reload: return "reload";
        case DiskChangeAction::ask: return "ask";
        case DiskChangeAction::conflict: return "conflict";
        case DiskChangeAction::permission: return "permission";
        case DiskChangeAction::readError: return "readError";
        case DiskChangeAction::missingNow: return "missingNow";
        case DiskChangeAction::startGrace: return "startGrace";
        case DiskChangeAction::awaitGrace: return "awaitGrace";
    }
    return "unknown";
}

const ExternalIssueKinds& issuesClearedByKnownContent() {
    static const ExternalIssueKinds kinds{ExternalIssueKind::conflict,
                                          ExternalIssueKind::externalChanged,
                                          ExternalIssueKind::missing, ExternalIssueKind::unreadable,
                                          ExternalIssueKind::permission};
    return kinds;
}

const ExternalIssueKinds& issuesClearedByReload() {
    static const ExternalIssueKinds kinds = [] {
        auto all = issuesClearedByKnownContent();
        all.insert(ExternalIssueKind::recovered);
        return all;
    }();
    return kinds;
}

const ExternalIssueKinds& issuesClearedByMove() {
    static const ExternalIssueKinds kinds{ExternalIssueKind::missing};
    return kinds;
}

}  // namespace larkspin
