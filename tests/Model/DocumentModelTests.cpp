#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "Model/DocumentModel.hpp"
#include "Model/ExternalIssueKind.hpp"
#include "Model/DocumentPreferences.hpp"
#include "Platform/Localization.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using Enc = DocumentTextEncoding;
using State = DocumentModel::State;

DiskVersion version(std::int64_t size, std::string digest) {
    return DiskVersion{"00aa", size, Date{} + std::chrono::seconds(size), std::move(digest)};
}

TEST(DocumentModel, AdoptIsOneCleanChangeAndEditsCountCharacters) {
    DocumentModel model;
    model.setRecoveryState(RecoveryState::draftWritten);
    model.noteConflict(version(9, "d9"));
    model.noteAccessDenied(true);
    int changes = 0;
    model.onChange = [&changes](DocumentModel&) { ++changes; };
    // A load clears every file problem and leaves the draft state alone.
    model.adopt({.source = std::string("中文\0x", 8)});  // U+0000 is kept whole
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(model.state(), State::clean);
    EXPECT_EQ(model.recoveryState(), RecoveryState::draftWritten);
    EXPECT_EQ(model.lastSavedRevision(), model.sourceRevision());
    const auto adopted = model.sourceRevision();
    EXPECT_TRUE(model.replaceCharacters({1, 1}, "字"));
    EXPECT_TRUE(model.replaceCharacters({4, 0}, "!"));
    EXPECT_EQ(model.sourceText(), std::string("中字\0x!", 9));
    EXPECT_EQ(model.sourceRevision(), adopted + 2);
    EXPECT_EQ(changes, 3);
}

// A loader's text with its count moves in as it is, and the text handed out
// stays as it was when the model is edited; the model's own copy is made
// only then, and only once.
TEST(DocumentModel, AdoptedTextIsHeldOnceAndWhatWasHandedOutNeverChanges) {
    DocumentModel model;
    const std::string tail(100, 'x');
    std::string text = "中文 " + tail;
    const char* bytes = text.data();
    model.adopt({.source = std::move(text), .characterCount = 103});
    EXPECT_EQ(model.sourceText().data(), bytes) << "moved, not copied";
    EXPECT_EQ(model.textStorage().length(), 103);
    const std::shared_ptr<const std::string> shown = model.sharedSourceText();
    EXPECT_EQ(shown.get(), &model.sourceText());

    EXPECT_TRUE(model.replaceCharacters({0, 1}, "字"));
    EXPECT_EQ(*shown, "中文 " + tail);
    EXPECT_EQ(model.sourceText(), "字文 " + tail);
    const std::string* copy = &model.sourceText();
    EXPECT_TRUE(model.replaceCharacters({2, 0}, "!"));
    EXPECT_EQ(&model.sourceText(), copy) << "edited in place once no one else holds it";
    EXPECT_EQ(model.sourceText(), "字文! " + tail);
}

TEST(DocumentModel, TextObserversSeeEveryEditBeforeOnChangeAndMayLeaveMidCall) {
    DocumentModel model;
    std::vector<std::string> calls;
    model.onChange = [&calls](DocumentModel&) { calls.push_back("change"); };
    std::uint64_t second = 0;
    const auto first = model.addTextObserver([&](const TextStorage::Edit& edit) {
        calls.push_back("first " + std::to_string(edit.replacedRange.location) + "+" +
                        std::to_string(edit.changeInLength));
        model.removeTextObserver(second);
    });
    second = model.addTextObserver([&](const TextStorage::Edit&) { calls.push_back("second"); });
    model.adopt({.source = "ab"});
    EXPECT_TRUE(model.replaceCharacters({1, 0}, "é"));
    model.removeTextObserver(first);
    EXPECT_FALSE(model.replaceCharacters({9, 0}, "x"));
    EXPECT_TRUE(model.replaceCharacters({0, 1}, ""));
    EXPECT_EQ(calls, (std::vector<std::string>{"first 0+2", "change", "first 1+1", "change", "change"}));
}

TEST(DocumentModel, StatePrecedenceAndWritability) {
    DocumentModel model;
    model.adopt({.source = "x"});
    model.noteConflict(version(2, "d2"));
    EXPECT_EQ(model.state(), State::conflict);
    model.noteAccessDenied(true);
    EXPECT_EQ(model.state(), State::accessDenied);
    model.noteMissing(true);
    EXPECT_EQ(model.state(), State::missing);
    model.acceptDiskVersion(version(3, "d3"));
    EXPECT_EQ(model.state(), State::clean);
    model.noteConflict(std::nullopt);  // a conflict without a version: the file is gone
    EXPECT_EQ(model.state(), State::missing);

    const auto notWritable = L10n::text("model.not_writable");
    const std::pair<LoadedDocument, std::optional<std::string>> loads[] = {
        {{.tier = DocumentSizeTier::restricted, .preview = "preview"}, notWritable},
        {{.failure = DocumentLoadFailure::notFound()}, notWritable},
        {{.source = "caf\xC3\xA9", .encoding = Enc::latin1}, L10n::text("encoding.latin1")},
        {{.source = "a", .encoding = Enc::utf16LE, .lineEnding = LineEnding::mixed}, std::nullopt},
    };
    for (const auto& [doc, problem] : loads) {
        model.adopt(doc);
        EXPECT_EQ(model.sourceText(), doc.source);  // a preview never enters the model
        EXPECT_EQ(model.isWritable(), !problem);
        EXPECT_EQ(model.writabilityProblem(), problem);
    }
    EXPECT_TRUE(model.requiresNormalizationConfirm());
}

TEST(DocumentModel, MarkSavedKeepsLaterEditsUnsaved) {
    DocumentModel model;
    model.adopt({.source = "a\r\nb\nc", .encoding = Enc::utf8BOM, .lineEnding = LineEnding::crlf});
    EXPECT_EQ(model.snapshot().encodedData(), "\xEF\xBB\xBF\x61\r\nb\r\nc");
    model.replaceAll("ab");
    model.setRecoveryState(RecoveryState::draftWritten);
    const auto snapshot = model.snapshot();
    model.replaceAll("abc");  // typed while the save ran
    model.noteConflict(version(5, "d5"));
    model.markSaved(snapshot, version(2, "ab"));
    EXPECT_EQ(model.state(), State::dirty);
    EXPECT_EQ(model.recoveryState(), RecoveryState::draftPending);
    EXPECT_FALSE(model.conflictVersion());

    model.markSaved(model.snapshot(), version(3, "abc"));
    EXPECT_EQ(model.state(), State::clean);
    EXPECT_EQ(model.recoveryState(), RecoveryState::noDraft);
}

TEST(DocumentPreferences, ReadsFallsBackWritesAndAnnouncesRealChangesOnly) {
    test::TempDir dir;
    UserDefaults defaults(dir / "prefs.json");
    auto center = NotificationCenter::create();
    DocumentPreferences prefs(defaults, *center);
    int posts = 0;
    auto observer = center->addObserver(std::string(DocumentPreferences::didChangeNotification),
                                        &prefs, [&](const Notification&) { ++posts; });
    defaults.setString("document.externalChangePolicy", "sometimes");
    EXPECT_EQ(prefs.externalChangePolicy(), ExternalChangePolicy::reload);
    prefs.setExternalChangePolicy(ExternalChangePolicy::reload);  // same as what it reads
    EXPECT_EQ(posts, 0);
    prefs.setExternalChangePolicy(ExternalChangePolicy::ask);
    prefs.setExternalChangePolicy(ExternalChangePolicy::ask);
    EXPECT_EQ(posts, 1);
    ASSERT_TRUE(defaults.drainForTesting());
    EXPECT_EQ(UserDefaults(dir / "prefs.json").string("document.externalChangePolicy"), "ask");
}

// Every raw-value table of the layer: distinct names, each read back as its
// value where the layer reads them.
TEST(ModelRawValues, DistinctAndReadBack) {
    auto count = [](auto... values) { return std::set{rawValue(values)...}.size(); };
    using R = RecoveryState;
    using S = State;
    using T = DocumentSizeTier;
    EXPECT_EQ(count(R::noDraft, R::draftPending, R::draftWritten, R::restoredFromDraft), 4u);
    EXPECT_EQ(count(S::clean, S::dirty, S::conflict, S::missing, S::accessDenied), 5u);
    EXPECT_EQ(count(T::normal, T::large, T::restricted), 3u);
    auto readBack = [](const auto& values, auto fromRaw) {
        for (const auto value : values) EXPECT_EQ(fromRaw(rawValue(value)), value);
    };
    readBack(std::array{LineEnding::lf, LineEnding::crlf, LineEnding::mixed}, lineEndingFromRaw);
    readBack(allDocumentTextEncodings, documentTextEncodingFromRaw);
    readBack(allExternalChangePolicies, externalChangePolicyFromRaw);
    using K = ExternalIssueKind;
    const std::array kinds{K::conflict, K::externalChanged, K::unreadable, K::permission,
                           K::saveFailed, K::recovered, K::missing};
    EXPECT_EQ(count(K::conflict, K::externalChanged, K::unreadable, K::permission, K::saveFailed,
                    K::recovered, K::missing),
              kinds.size());
    readBack(kinds, [](std::string_view raw) { return externalIssueKindFromRawValue(raw).value(); });
    EXPECT_FALSE(externalIssueKindFromRawValue("Missing"));
}

}  // namespace
}  // namespace larkspin
