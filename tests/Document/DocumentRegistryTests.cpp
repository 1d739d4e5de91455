#include "Document/Drafts/DraftScheduler.hpp"
#include "Document/FakeDocumentKeeper.hpp"
#include "Document/DocumentRegistry.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "Document/Document.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

std::shared_ptr<Document> documentAt(const std::filesystem::path& path) {
    Document::Services services;
    services.draftWriter = std::make_shared<DraftWriter>();
    services.observesFile = false;
    return Document::create(services, std::make_shared<test::FakeDocumentKeeper>(), path);
}

TEST(DocumentRegistry, NoTwoDocumentsShareAFile) {
    test::TempDir dir;
    const auto first = dir.write("a.md", "# A\n");
    const auto other = dir.write("b.md", "# B\n");
    std::filesystem::create_directory(dir / "sub");
    const auto hardLink = dir / "sub" / "link.md";
    ASSERT_EQ(::link(first.c_str(), hardLink.c_str()), 0);

    DocumentRegistry registry;
    auto a = documentAt(first);
    EXPECT_EQ(registry.add(a, first, readFileIdentity(first)), nullptr);
    EXPECT_EQ(registry.add(a, first, readFileIdentity(first)), nullptr) << "added once";
    EXPECT_EQ(registry.size(), 1u);

    struct Case {
        const char* name;
        std::filesystem::path path;
        bool sameFile;
    };
    const Case cases[] = {
        {"the same path", first, true},
        {"a path through ..", dir / "sub" / ".." / "a.md", true},
        {"a path through .", dir / "." / "a.md", true},
        {"a hard link (same inode)", hardLink, true},
        {"another file", other, false},
        {"a file that does not exist", dir / "c.md", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(registry.find(c.path, readFileIdentity(c.path)), c.sameFile ? a : nullptr);
        auto candidate = documentAt(c.path);
        DocumentRegistry copy = registry;
        EXPECT_EQ(copy.add(candidate, c.path, readFileIdentity(c.path)), c.sameFile ? a : nullptr);
        EXPECT_EQ(copy.size(), c.sameFile ? 1u : 2u);
    }
    // By path alone (no identity read yet) only the path matches.
    EXPECT_EQ(registry.find(dir / "sub" / ".." / "a.md"), a);
    EXPECT_EQ(registry.find(hardLink), nullptr);

    // A relocated document is found at its new file, and no longer at the old.
    registry.update(*a, other, readFileIdentity(other));
    EXPECT_EQ(registry.find(other, readFileIdentity(other)), a);
    EXPECT_EQ(registry.find(first, readFileIdentity(first)), nullptr);
    registry.remove(*a);
    EXPECT_EQ(registry.size(), 0u);
    EXPECT_EQ(registry.find(other, readFileIdentity(other)), nullptr);
}

TEST(DocumentRegistry, UntitledDocumentsAndStandardizedPaths) {
    DocumentRegistry registry;
    Document::Services services;
    services.draftWriter = std::make_shared<DraftWriter>();
    auto one = Document::create(services, std::make_shared<test::FakeDocumentKeeper>());
    auto two = Document::create(services, std::make_shared<test::FakeDocumentKeeper>());
    EXPECT_EQ(registry.add(one, std::nullopt, std::nullopt), nullptr);
    EXPECT_EQ(registry.add(two, std::nullopt, std::nullopt), nullptr);
    EXPECT_EQ(registry.documents(), (std::vector<std::shared_ptr<Document>>{one, two}));

    EXPECT_EQ(standardizedPath("/notes/./a/../b.md"), "/notes/b.md");
    EXPECT_EQ(standardizedPath("/notes/"), "/notes");
    EXPECT_EQ(standardizedPath("b.md"), std::filesystem::current_path() / "b.md");
}

}  // namespace
}  // namespace larkspin
