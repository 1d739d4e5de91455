#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "Reader/Links/LinkTargetCheck.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using namespace LinkTargetCheck;

TEST(LinkTargetCheck, NamesOfLaunchersProgramsAndPackages) {
    for (const std::string name :
         {"a.desktop", "A.DESKTOP", "setup.exe", "x.msi", "x.bat", "x.cmd", "x.com", "x.scr",
          "app.jar", "app.jnlp", "Tool.AppImage", "x.flatpakref", "x.flatpakrepo", "x.flatpak",
          "p.deb", "p.rpm", "run.sh", "x.run", "libz.so", "libz.so.1", "libz.so.1.2.13"}) {
        EXPECT_TRUE(isRefusedName(name)) << name;
    }
    for (const std::string name : {"notes.md", "report.pdf", "photo.png", "archive.tar.gz",
                                   "desktop", "sh", ".sh", "so.txt", "libz.so.txt", "x.so.1a",
                                   "readme", "data.json", "script.py"}) {
        EXPECT_FALSE(isRefusedName(name)) << name;
    }
}

TEST(LinkTargetCheck, ContentTypesOfLaunchersProgramsAndPackages) {
    for (const std::string type :
         {"application/x-desktop", "application/x-executable", "application/x-sharedlib",
          "application/x-shellscript", "application/x-ms-dos-executable", "application/x-msi",
          "application/x-java-archive", "application/vnd.appimage",
          "application/vnd.flatpak.ref", "application/vnd.debian.binary-package",
          "application/x-rpm"}) {
        EXPECT_TRUE(isRefusedContentType(type)) << type;
    }
    // Source files derive from "application/x-executable" but only run when
    // marked executable; documents never.
    for (const std::string type : {"text/x-python", "text/plain", "application/pdf", "image/png",
                                   "application/octet-stream", "application/zip", ""}) {
        EXPECT_FALSE(isRefusedContentType(type)) << type;
    }
}

TEST(LinkTargetCheck, ExecuteBitsRefuseWhatCanRun) {
    struct Case {
        std::vector<std::string> types;
        bool executeBit;
        bool refused;
    };
    const std::vector<Case> cases{
        {{"text/plain"}, false, false},
        {{"text/plain"}, true, true},
        {{"text/x-python"}, false, false},
        {{"text/x-python"}, true, true},
        {{"image/png", "image/png"}, true, false},
        {{"application/pdf"}, true, false},
        {{"image/png", "application/x-desktop"}, false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(refusesLaunch("file", c.types, c.executeBit), c.refused)
            << c.types.front() << " x=" << c.executeBit;
    }
}

TEST(LinkTargetCheck, MailAttachmentsInAnyDisguise) {
    for (const std::string url :
         {"mailto:a@b?attach=/etc/passwd", "mailto:a@b?subject=x&ATTACHMENT=/x",
          "MailTo:a@b?%41ttach=x", "mailto:?body=x;attach=y", "mailto:a@b?attach"}) {
        EXPECT_TRUE(mailtoCarriesAttachment(url)) << url;
    }
    for (const std::string url :
         {"mailto:a@b", "mailto:a@b?subject=attach", "mailto:a@b?attachments=x",
          "mailto:a@b#attach=x", "https://example.com/?attach=x", "mailto:attach@b"}) {
        EXPECT_FALSE(mailtoCarriesAttachment(url)) << url;
    }
}

TEST(LinkTargetCheck, AFileThatCannotBeLookedAtIsNotOpened) {
    test::TempDir dir;
    const auto file = dir.write("plan.txt", "plan\n");
    SysCalls denied = realSysCalls();
    denied.stat = [](const char*, struct stat*) {
        errno = EACCES;
        return -1;
    };
    const auto refusal = verifyTarget(file, denied);
    ASSERT_TRUE(refusal);
    EXPECT_TRUE(refusal->starts_with("无法访问链接目标：")) << *refusal;

    SysCalls unreadable = realSysCalls();
    unreadable.open = [](const char*, int, mode_t) {
        errno = EACCES;
        return -1;
    };
    EXPECT_FALSE(verifyTarget(file, unreadable));
    const auto inspected = inspectOtherFile(file, unreadable);
    ASSERT_FALSE(inspected);
    EXPECT_TRUE(inspected.error().starts_with("无法访问链接目标：")) << inspected.error();

    const auto allowed = inspectOtherFile(file);
    ASSERT_TRUE(allowed) << allowed.error();
    struct stat status {};
    ASSERT_EQ(stat(file.c_str(), &status), 0);
    EXPECT_EQ(*allowed, (FileIdentity{status.st_dev, status.st_ino}));
}

}  // namespace
}  // namespace larkspin
