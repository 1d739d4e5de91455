#include <gtest/gtest.h>

#include <chrono>

#include "Platform/Files/FileBookmark.hpp"
#include "Platform/Text/Iso8601.hpp"
#include "Storage/RecoveryDraft.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using namespace std::chrono;
using Resolution = RecoveryDraft::Resolution;

constexpr const char* kID = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";

Date at(const char* text) {
    return *Iso8601::parse(text);
}

RecoveryDraft fullDraft() {
    RecoveryDraft draft;
    draft.draftID = kID;
    draft.displayName = "a \"b\".md";
    draft.fileIdentity =
        RecoveryDraft::FileIdentity{std::string("\x00\x01\xFF", 3), "/home/u/a.md"};
    draft.originalDiskVersion =
        RecoveryDraft::StoredDiskVersion{"00ab", 12, at("2024-01-02T03:04:05Z") + 678ms, "abc"};
    draft.encoding = "utf8";
    draft.lineEnding = "crlf";
    draft.content = "# T\n\t\"x\"\x01 é/\\";
    draft.sourceRevision = 7;
    draft.createdAt = at("2024-01-02T03:04:05Z");
    draft.updatedAt = at("2024-01-02T03:04:06Z") + 999ms;
    return draft;
}

// The decoded draft with every field of a full draft, given as JSON members.
std::string withMembers(std::string_view members) {
    return std::string(R"({"createdAt":"2024-01-02T03:04:05Z","displayName":"","draftID":")") +
           kID + R"(","encoding":"utf8","lineEnding":"lf","schemaVersion":1,"sourceRevision":3,)" +
           std::string(members) + "}";
}

// Files as the writer has always written them: a reader must take them and
// the writer give them back unchanged.
constexpr std::string_view kFullDraftFile =
    R"({"content":"# T\n\t\"x\"\u0001 é\/\\","createdAt":"2024-01-02T03:04:05Z",)"
    R"("displayName":"a \"b\".md","draftID":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","encoding":"utf8",)"
    R"("fileIdentity":{"bookmark":"AAH\/","path":"\/home\/u\/a.md"},"lineEnding":"crlf",)"
    R"("originalDiskVersion":{"contentDigest":"abc","modificationDate":"2024-01-02T03:04:05Z",)"
    R"("resourceIdentifier":"00ab","size":12},"schemaVersion":1,"sourceRevision":7,)"
    R"("updatedAt":"2024-01-02T03:04:06Z"})";
constexpr std::string_view kResolvedDraftFile =
    R"({"createdAt":"2024-01-02T03:04:05Z","displayName":"a \"b\".md",)"
    R"("draftID":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","encoding":"utf8",)"
    R"("fileIdentity":{"path":"\/home\/u\/a.md"},"lineEnding":"crlf","resolution":"reloaded",)"
    R"("resolvedAt":"2024-05-06T07:08:09Z","schemaVersion":1,"sourceRevision":7,)"
    R"("updatedAt":"2024-01-02T03:04:06Z"})";
// Invalid UTF-8 written as U+FFFD, dates at both ends of a Date's range, the
// largest whole number every JSON reader keeps exactly.
constexpr std::string_view kReplacedTextFile =
    R"({"content":"ok �","createdAt":"1677-09-21T00:12:44Z",)"
    R"("displayName":"cut � end ��� sur �� over �� cont ����� five ���� big",)"
    R"("draftID":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0","encoding":"utf8",)"
    R"("fileIdentity":{"path":"\/tmp\/caf�.md"},"lineEnding":"lf","schemaVersion":1,)"
    R"("sourceRevision":9007199254740992,"updatedAt":"2262-04-11T23:47:16Z"})";

// The writer gives these bytes; the reader takes them and the writer gives
// them back unchanged, with dates cut to whole seconds.
TEST(RecoveryDraftFile, FilesWrittenBeforeReadAndRewriteByteForByte) {
    RecoveryDraft resolved = fullDraft();
    resolved.content.reset();
    resolved.fileIdentity->bookmark.reset();
    resolved.originalDiskVersion.reset();
    resolved.resolvedAt = at("2024-05-06T07:08:09Z");
    resolved.resolution = Resolution::reloaded;

    RecoveryDraft replaced = fullDraft();
    replaced.displayName =
        "cut \xE2\x82 end \xED\xA0\x80 sur \xC0\xAF over \x80\x80 cont \xF8\x88\x80\x80\x80 "
        "five \xF4\x90\x80\x80 big";
    replaced.fileIdentity = RecoveryDraft::FileIdentity{std::nullopt, "/tmp/caf\xE9.md"};
    replaced.originalDiskVersion.reset();
    replaced.lineEnding = "lf";
    replaced.content = "ok \xE2\x82";
    replaced.sourceRevision = std::int64_t{1} << 53;
    replaced.createdAt = distantPast();
    replaced.updatedAt = Date::max();

    const std::pair<RecoveryDraft, std::string_view> cases[] = {
        {fullDraft(), kFullDraftFile}, {resolved, kResolvedDraftFile}, {replaced, kReplacedTextFile}};
    for (const auto& [draft, file] : cases) {
        SCOPED_TRACE(file);
        EXPECT_EQ(draft.encoded(), file);
        const auto decoded = RecoveryDraft::decode(file);
        ASSERT_TRUE(decoded) << decoded.error();
        EXPECT_EQ(decoded->encoded(), file);
    }
    RecoveryDraft expected = fullDraft();
    expected.updatedAt = floor<seconds>(expected.updatedAt);
    expected.originalDiskVersion->modificationDate =
        floor<seconds>(expected.originalDiskVersion->modificationDate);
    EXPECT_EQ(RecoveryDraft::decode(kFullDraftFile), expected);
    EXPECT_EQ(RecoveryDraft::decode(kReplacedTextFile)->sourceRevision, std::int64_t{1} << 53);
}

TEST(RecoveryDraftFile, RefusesFilesThatAreNotWhatWeWrite) {
    const std::string date = R"("updatedAt":"2024-01-02T03:04:05Z")";
    EXPECT_TRUE(RecoveryDraft::decode(withMembers(date)));
    const std::pair<std::string, std::string> cases[] = {
        {"no updatedAt", withMembers(R"("content":"x")")},
        {"null required", withMembers(R"("updatedAt":null)")},
        {"unknown resolution", withMembers(date + R"(,"resolution":"lost")")},
        {"fraction in date", withMembers(R"("updatedAt":"2024-01-02T03:04:05.250Z")")},
        {"text for number", withMembers(date + R"(,"sourceRevision":"3")")},
        {"fractional number", withMembers(date + R"(,"sourceRevision":3.5)")},
        {"beyond 64 bits", withMembers(date + R"(,"sourceRevision":9223372036854775808)")},
        {"number for text", withMembers(date + R"(,"content":5)")},
        {"bad base64", withMembers(date + R"(,"fileIdentity":{"path":"/a","bookmark":"AA=A"})")},
        {"identity without path", withMembers(date + R"(,"fileIdentity":{"bookmark":"AAAA"})")},
        {"partial disk version", withMembers(date + R"(,"originalDiskVersion":{"size":1})")},
        {"top level array", "[1]"},
        {"not UTF-8", withMembers(date + ",\"content\":\"\xC3\x28\"")},
        {"nested past the limit",
         withMembers(date + ",\"extra\":" + std::string(300, '[') + std::string(300, ']'))},
    };
    for (const auto& [name, bytes] : cases) {
        EXPECT_FALSE(RecoveryDraft::decode(bytes)) << name;
    }
}

TEST(RecoveryDraftFile, OnlyCanonicalUpperCaseUuidsAreIdentifiers) {
    EXPECT_TRUE(RecoveryDraft::isValidID(kID));
    for (const char* bad :
         {"", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0.json",
          "../../../../../../../../../tmp/evil.x", "0F1E2D3C-4B5A-6978-8796/A5B4C3D2E1F"}) {
        EXPECT_FALSE(RecoveryDraft::isValidID(bad)) << bad;
    }
    std::string document = withMembers(R"("updatedAt":"2024-01-02T03:04:05Z")");
    document.replace(document.find(kID), 36, "../../outside");
    EXPECT_FALSE(RecoveryDraft::decode(document));
    EXPECT_EQ(RecoveryDraft::shortID(kID), "0F1E2D3C");
    EXPECT_EQ(RecoveryDraft::shortID("草稿文件名字很长的.json"), "草稿文件名字很长");
}

TEST(RecoveryDraftFile, FindsItsSourceByBookmarkThenByPath) {
    test::TempDir dir;
    const auto file = dir.write("a.md", "x");
    RecoveryDraft::FileIdentity identity{FileBookmark::make(file), file.string()};
    std::filesystem::rename(file, dir / "moved.md");
    EXPECT_EQ(identity.resolveURL(),
              (RecoveryDraft::FileIdentity::Location{dir / "moved.md", false}));

    std::filesystem::remove(dir / "moved.md");  // the bookmark no longer finds it
    EXPECT_EQ(identity.resolveURL(), (RecoveryDraft::FileIdentity::Location{file, false}));
    identity.path.clear();
    EXPECT_EQ(identity.resolveURL(), std::nullopt);
    EXPECT_EQ((RecoveryDraft::FileIdentity{std::nullopt, "/x/y.md"}.resolveURL()->path), "/x/y.md");
}

}  // namespace
}  // namespace larkspin
