// The decision on a settled verdict, as a table: what the document does for
// each finding, by its unsaved state, conflict, policy, save and last loss.

#include <gtest/gtest.h>

#include "Document/Disk/DiskChangeReaction.hpp"
#include "Model/DocumentModel.hpp"

namespace larkspin {
namespace {

using A = DiskChangeAction;
using F = DiskFinding;
using Outcome = ContentStabilizer::Outcome;
using Reason = ContentStabilizer::UnreadableReason;

DiskVersion version(std::string id, std::int64_t size, std::string digest) {
    return DiskVersion{std::move(id), size, distantPast(), std::move(digest)};
}

TEST(DiskChangeReaction, DecidesEachSituation) {
    struct Case {
        const char* name;
        DiskChangeSituation situation;
        A expected;
    };
    auto s = [](F finding) {
        DiskChangeSituation situation;
        situation.finding = finding;
        return situation;
    };
    auto with = [](DiskChangeSituation situation, auto change) {
        change(situation);
        return situation;
    };
    const Case cases[] = {
        {"same bytes, same identity", with(s(F::sameContent), [](auto& x) { x.baselineIdentical = true; }), A::clearIssues},
        {"same bytes, new identity or date", s(F::sameContent), A::acceptVersion},
        {"same bytes after a flag", with(s(F::sameContent), [](auto& x) { x.baselineIdentical = true; x.issueFlagRaised = true; }), A::acceptRecovered},
        {"same bytes as the recorded conflict", with(s(F::sameContent), [](auto& x) { x.conflictRecorded = true; x.conflictHasFoundContent = true; x.issueFlagRaised = true; }), A::keepConflict},
        {"same bytes, another conflict recorded", with(s(F::sameContent), [](auto& x) { x.conflictRecorded = true; x.issueFlagRaised = true; x.dirty = true; }), A::acceptRecovered},
        {"new bytes, clean, reload", s(F::newContent), A::reload},
        {"new bytes, clean, ask", with(s(F::newContent), [](auto& x) { x.policy = ExternalChangePolicy::ask; }), A::ask},
        {"new bytes, dirty", with(s(F::newContent), [](auto& x) { x.dirty = true; }), A::conflict},
        {"new bytes, dirty, ask", with(s(F::newContent), [](auto& x) { x.dirty = true; x.policy = ExternalChangePolicy::ask; }), A::conflict},
        {"new bytes, clean, conflict kept", with(s(F::newContent), [](auto& x) { x.conflictRecorded = true; }), A::conflict},
        {"permission", with(s(F::permissionDenied), [](auto& x) { x.gracePending = true; }), A::permission},
        {"read error", s(F::readError), A::readError},
        {"vanished, nothing seen", s(F::vanished), A::missingNow},
        {"vanished after delete", with(s(F::vanished), [](auto& x) { x.lastLoss = FileLoss::deleted; }), A::missingNow},
        {"vanished after rename", with(s(F::vanished), [](auto& x) { x.lastLoss = FileLoss::renamed; }), A::startGrace},
        {"vanished, grace running", with(s(F::vanished), [](auto& x) { x.lastLoss = FileLoss::renamed; x.gracePending = true; }), A::awaitGrace},
        {"vanished, grace running, then deleted", with(s(F::vanished), [](auto& x) { x.lastLoss = FileLoss::deleted; x.gracePending = true; }), A::awaitGrace},
        {"anything while saving", with(s(F::newContent), [](auto& x) { x.saving = true; x.dirty = true; }), A::park},
        {"vanished while saving", with(s(F::vanished), [](auto& x) { x.saving = true; }), A::park},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rawValue(decideDiskChange(c.situation)), rawValue(c.expected)) << c.name;
    }
}

TEST(DiskChangeReaction, ReadsTheVerdictAgainstTheModel) {
    const auto base = version("a1", 6, "d1");
    auto touched = base;
    touched.resourceIdentifier = "b2";
    const auto other = version("a1", 7, "d2");

    EXPECT_EQ(classifyOutcome(Outcome::stable(touched), base), F::sameContent);
    EXPECT_EQ(classifyOutcome(Outcome::stable(other), base), F::newContent);
    EXPECT_EQ(classifyOutcome(Outcome::stable(base), std::nullopt), F::newContent);
    const std::pair<DocumentLoadFailure, F> failures[] = {
        {DocumentLoadFailure::permissionDenied(), F::permissionDenied},
        {DocumentLoadFailure::notFound(), F::vanished},
        {DocumentLoadFailure::isDirectory(), F::vanished},
        {DocumentLoadFailure::readError("EIO"), F::readError},
    };
    for (const auto& [failure, finding] : failures) {
        EXPECT_EQ(classifyOutcome(Outcome::unreadable(Reason(failure, "x")), base), finding);
    }

    // The model's state as the decision sees it: dirty, and a conflict whose
    // bytes are those found.
    DocumentModel model;
    LoadedDocument loaded;
    loaded.source = "hello\n";
    loaded.diskVersion = base;
    model.adopt(loaded);
    model.replaceAll("edited\n");
    model.noteConflict(other);
    const auto s = describeSituation(model, Outcome::stable(other), ExternalChangePolicy::ask,
                                     FileLoss::renamed, true);
    EXPECT_EQ(s.finding, F::newContent);
    EXPECT_TRUE(s.dirty && s.conflictRecorded && s.conflictHasFoundContent && s.issueFlagRaised);
    EXPECT_FALSE(s.baselineIdentical);
    EXPECT_FALSE(s.saving);
    EXPECT_TRUE(describeSituation(model, Outcome::stable(base), ExternalChangePolicy::ask,
                                  FileLoss::none, false)
                    .baselineIdentical);
}

TEST(DiskChangeReaction, ClearSets) {
    using K = ExternalIssueKind;
    EXPECT_EQ(issuesClearedByKnownContent(),
              (ExternalIssueKinds{K::conflict, K::externalChanged, K::missing, K::unreadable, K::permission}));
    EXPECT_EQ(issuesClearedByReload(),
              (ExternalIssueKinds{K::conflict, K::externalChanged, K::missing, K::unreadable, K::permission, K::recovered}));
    EXPECT_EQ(issuesClearedByMove(), (ExternalIssueKinds{K::missing}));
}

}  // namespace
}  // namespace larkspin
