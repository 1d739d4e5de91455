#include <gtest/gtest.h>

#include <chrono>

#include "Model/DocumentModel.hpp"
#include "Model/DocumentPreferences.hpp"
#include "Platform/Localization.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

DiskVersion version(std::int64_t size, std::string digest) {
    return DiskVersion{"00aa", size, Date{} + std::chrono::seconds(size), std::move(digest)};
}

LoadedDocument loaded(std::string text) {
    LoadedDocument doc;
    doc.source = std::move(text);
    doc.byteCount = static_cast<std::int64_t>(doc.source.size());
    doc.diskVersion = version(doc.byteCount, "d1");
    return doc;
}

struct CountingModel {
    DocumentModel model;
    int changes = 0;
    CountingModel() {
        model.onChange = [this](DocumentModel&) { ++changes; };
    }
};

TEST(DocumentModel, AdoptIsOneChangeAndClean) {
    CountingModel m;
    m.model.adopt(loaded("# Title\n\nbody"));
    EXPECT_EQ(m.changes, 1);
    EXPECT_EQ(m.model.state(), DocumentModel::State::clean);
    EXPECT_EQ(m.model.sourceRevision(), 1);
    EXPECT_EQ(m.model.lastSavedRevision(), 1);
    EXPECT_EQ(m.model.sourceText(), "# Title\n\nbody");

    // A reload clears every file problem and leaves the draft state alone.
    m.model.setRecoveryState(RecoveryState::draftWritten);
    m.model.noteConflict(version(9, "d9"));
    m.model.noteAccessDenied(true);
    m.model.adopt(loaded("new"));
    EXPECT_EQ(m.model.state(), DocumentModel::State::clean);
    EXPECT_FALSE(m.model.conflictVersion());
    EXPECT_EQ(m.model.recoveryState(), RecoveryState::draftWritten);
}

TEST(DocumentModel, EditsCountRevisionsInCharacters) {
    CountingModel m;
    m.model.adopt(loaded(std::string("中文\0x", 8)));  // U+0000 is kept whole
    ASSERT_EQ(m.model.textStorage().length(), 4);
    const int before = m.changes;
    EXPECT_TRUE(m.model.replaceCharacters({1, 1}, "字"));
    EXPECT_EQ(m.model.sourceText(), std::string("中字\0x", 8));
    EXPECT_TRUE(m.model.replaceCharacters({4, 0}, "!"));
    EXPECT_TRUE(m.model.replaceCharacters({0, 0}, "é"));
    EXPECT_EQ(m.model.sourceText(), std::string("é中字\0x!", 11));
    EXPECT_EQ(m.model.sourceRevision(), 4);
    EXPECT_EQ(m.changes, before + 3);
    EXPECT_EQ(m.model.state(), DocumentModel::State::dirty);

    // Refused edits change nothing.
    EXPECT_FALSE(m.model.replaceCharacters({7, 0}, "x"));
    EXPECT_FALSE(m.model.replaceCharacters({5, 2}, "x"));
    EXPECT_FALSE(m.model.replaceCharacters({0, 0}, "\xC3"));
    EXPECT_FALSE(m.model.replaceAll("\xED\xA0\x80"));
    EXPECT_EQ(m.model.sourceRevision(), 4);
    EXPECT_EQ(m.changes, before + 3);
}

TEST(DocumentModel, StoragePositionsStayRightAcrossScatteredEdits) {
    // Compare against a reference of code points while editing far apart and
    // near each other, so that the position hint is exercised both ways.
    DocumentModel model;
    std::u32string reference = U"αβγ abc 漢字 xyz";
    auto toUTF8 = [](const std::u32string& s) {
        std::string out;
        for (char32_t c : s) {
            if (c < 0x80) out += static_cast<char>(c);
            else if (c < 0x800) { out += static_cast<char>(0xC0 | (c >> 6)); out += static_cast<char>(0x80 | (c & 0x3F)); }
            else { out += static_cast<char>(0xE0 | (c >> 12)); out += static_cast<char>(0x80 | ((c >> 6) & 0x3F)); out += static_cast<char>(0x80 | (c & 0x3F)); }
        }
        return out;
    };
    model.replaceAll(toUTF8(reference));
    const std::pair<TextRange, std::u32string> edits[] = {
        {{13, 1}, U"Z"}, {{0, 2}, U"ωω"}, {{8, 3}, U""}, {{8, 0}, U"中"}, {{9, 0}, U"文"},
        {{3, 5}, U"—"},  {{0, 0}, U"¶"},  {{10, 0}, U"end"},
    };
    for (const auto& [range, text] : edits) {
        ASSERT_TRUE(model.replaceCharacters(range, toUTF8(text)));
        reference.replace(static_cast<std::size_t>(range.location), static_cast<std::size_t>(range.length), text);
        ASSERT_EQ(model.sourceText(), toUTF8(reference));
        ASSERT_EQ(model.textStorage().length(), static_cast<std::int64_t>(reference.size()));
    }
}

TEST(DocumentModel, StatePrecedenceAndWritability) {
    CountingModel m;
    m.model.adopt(loaded("x"));
    m.model.noteConflict(version(2, "d2"));
    EXPECT_EQ(m.model.state(), DocumentModel::State::conflict);
    m.model.noteAccessDenied(true);
    EXPECT_EQ(m.model.state(), DocumentModel::State::accessDenied);
    m.model.noteMissing(true);
    EXPECT_EQ(m.model.state(), DocumentModel::State::missing);
    m.model.acceptDiskVersion(version(3, "d3"));
    EXPECT_EQ(m.model.state(), DocumentModel::State::clean);
    // A conflict without a version means the file is gone.
    m.model.noteConflict(std::nullopt);
    EXPECT_EQ(m.model.state(), DocumentModel::State::missing);

    LoadedDocument restricted;
    restricted.tier = DocumentSizeTier::restricted;
    restricted.preview = "preview";
    m.model.adopt(restricted);
    EXPECT_TRUE(m.model.sourceText().empty());  // the preview never enters the model
    EXPECT_FALSE(m.model.isWritable());
    EXPECT_EQ(m.model.writabilityProblem(), L10n::text("model.not_writable"));

    LoadedDocument failed;
    failed.failure = DocumentLoadFailure{DocumentLoadFailure::Kind::notFound, {}};
    m.model.adopt(failed);
    EXPECT_TRUE(m.model.isRestricted());

    LoadedDocument latin = loaded("caf\xC3\xA9");
    latin.encoding = DocumentTextEncoding::latin1;
    m.model.adopt(latin);
    EXPECT_FALSE(m.model.isWritable());
    EXPECT_EQ(m.model.writabilityProblem(), L10n::text("encoding.latin1"));
    EXPECT_FALSE(m.model.snapshot().encodedData());

    LoadedDocument utf16 = loaded("a");
    utf16.encoding = DocumentTextEncoding::utf16LE;
    utf16.lineEnding = LineEnding::mixed;
    m.model.adopt(utf16);
    EXPECT_TRUE(m.model.isWritable());
    EXPECT_FALSE(m.model.writabilityProblem());
    EXPECT_TRUE(m.model.requiresNormalizationConfirm());
}

TEST(DocumentModel, MarkSavedKeepsLaterEditsUnsaved) {
    CountingModel m;
    m.model.adopt(loaded("a"));
    m.model.replaceAll("ab");
    m.model.setRecoveryState(RecoveryState::draftWritten);
    const auto snapshot = m.model.snapshot();
    m.model.replaceAll("abc");  // typed while the save ran
    m.model.noteConflict(version(5, "d5"));
    m.model.markSaved(snapshot, version(2, "ab"));
    EXPECT_EQ(m.model.lastSavedRevision(), snapshot.revision);
    EXPECT_EQ(m.model.state(), DocumentModel::State::dirty);
    EXPECT_EQ(m.model.recoveryState(), RecoveryState::draftPending);
    EXPECT_FALSE(m.model.conflictVersion());

    m.model.markSaved(m.model.snapshot(), version(3, "abc"));
    EXPECT_EQ(m.model.state(), DocumentModel::State::clean);
    EXPECT_EQ(m.model.recoveryState(), RecoveryState::noDraft);
}

TEST(DocumentModel, SnapshotEncodesWithItsLineEndingsAndEncoding) {
    DocumentModel model;
    LoadedDocument doc = loaded("a\r\nb\nc");
    doc.encoding = DocumentTextEncoding::utf8BOM;
    doc.lineEnding = LineEnding::crlf;
    model.adopt(doc);
    EXPECT_EQ(model.snapshot().encodedData(), "\xEF\xBB\xBF" "a\r\nb\r\nc");
}

TEST(DocumentPreferences, ReadsFallsBackWritesAndAnnouncesRealChangesOnly) {
    test::TempDir dir;
    UserDefaults defaults(dir / "prefs.json");
    auto center = NotificationCenter::create();
    DocumentPreferences prefs(defaults, *center);
    int posts = 0;
    auto observer = center->addObserver(std::string(DocumentPreferences::didChangeNotification), &prefs,
                                        [&](const Notification&) { ++posts; });

    EXPECT_EQ(prefs.externalChangePolicy(), ExternalChangePolicy::reload);
    defaults.setString("document.externalChangePolicy", "sometimes");
    EXPECT_EQ(prefs.externalChangePolicy(), ExternalChangePolicy::reload);
    prefs.setExternalChangePolicy(ExternalChangePolicy::reload);  // same as what it reads
    EXPECT_EQ(posts, 0);
    EXPECT_EQ(defaults.string("document.externalChangePolicy"), "sometimes");

    prefs.setExternalChangePolicy(ExternalChangePolicy::ask);
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(UserDefaults(dir / "prefs.json").string("document.externalChangePolicy"), "ask");
    prefs.setExternalChangePolicy(ExternalChangePolicy::ask);
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(localizedName(ExternalChangePolicy::ask), "先提示");
}

}  // namespace
}  // namespace larkspin
