#include "Document/ExternalIssue.hpp"

namespace larkspin {

ExternalIssueKind ExternalIssue::kind() const {
    struct Visitor {
        ExternalIssueKind operator()(const Conflict&) const { return ExternalIssueKind::conflict; }
        ExternalIssueKind operator()(const ExternalChanged&) const { return ExternalIssueKind::externalChanged; }
        ExternalIssueKind operator()(const Unreadable& issue) const {
            return issue.failure.kind == DocumentLoadFailure::Kind::permissionDenied ? ExternalIssueKind::permission
                                                                                      : ExternalIssueKind::unreadable;
        }
        ExternalIssueKind operator()(const SaveFailed&) const { return ExternalIssueKind::saveFailed; }
        ExternalIssueKind operator()(const Recovered&) const { return ExternalIssueKind::recovered; }
        ExternalIssueKind operator()(const Missing&) const { return ExternalIssueKind::missing; }
    };
    return std::visit(Visitor{}, value);
}

}  // namespace larkspin
