// The rules behind the link opener's refusals that its own tests do not
// reach: what must not be refused, mail attachments, and files that cannot
// be looked at.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "Document/Links/LinkTargetCheck.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using namespace LinkTargetCheck;

TEST(LinkTargetCheck, DocumentsAndSourcesAreNotPrograms) {
    for (const std::string name : {"notes.md", "archive.tar.gz", "desktop", ".sh", "so.txt",
                                   "libz.so.txt", "x.so.1a", "script.py", "Setup.exe.pdf"}) {
        EXPECT_FALSE(isRefusedName(name)) << name;
    }
    EXPECT_TRUE(isRefusedName("libz.so.1.2.13"));
    // Source files derive from "application/x-executable"; without execute
    // bits they only open in an editor.
    for (const std::string type : {"text/x-python", "text/plain", "application/pdf",
                                   "application/octet-stream", "application/zip", ""}) {
        EXPECT_FALSE(isRefusedContentType(type)) << type;
    }
    EXPECT_TRUE(refusesLaunch("x", {"text/x-python"}, true));
    EXPECT_FALSE(refusesLaunch("x", {"image/png", "application/pdf"}, true));
}

TEST(LinkTargetCheck, MailAttachmentsInAnyDisguise) {
    for (const std::string url :
         {"mailto:a@b?attach=/etc/passwd", "mailto:a@b?subject=x&ATTACHMENT=/x",
          "MailTo:a@b?%41ttach=x", "mailto:?body=x;attach=y", "mailto:a@b?attach"}) {
        EXPECT_TRUE(mailtoCarriesAttachment(url)) << url;
    }
    for (const std::string url : {"mailto:a@b?subject=attach", "mailto:a@b?attachments=x",
                                  "mailto:a@b#attach=x", "mailto:attach@b"}) {
        EXPECT_FALSE(mailtoCarriesAttachment(url)) << url;
    }
}

TEST(LinkTargetCheck, AFileThatCannotBeLookedAtIsNotOpened) {
    test::TempDir dir;
    const auto file = dir.write("plan.txt", "plan\n");
    const auto refuse = [](int) {
        errno = EACCES;
        return -1;
    };
    SysCalls noStat = realSysCalls();
    noStat.stat = [&](const char*, struct stat*) { return refuse(0); };
    SysCalls noOpen = realSysCalls();
    noOpen.open = [&](const char*, int, mode_t) { return refuse(0); };
    EXPECT_TRUE(verifyTarget(file, noStat).value_or("").starts_with("无法访问链接目标："));
    EXPECT_FALSE(verifyTarget(file, noOpen)) << "a Markdown target is only looked at";
    const auto inspected = inspectOtherFile(file, noOpen);
    ASSERT_FALSE(inspected);
    EXPECT_TRUE(inspected.error().starts_with("无法访问链接目标：")) << inspected.error();
}

}  // namespace
}  // namespace larkspin
