#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Json/RawValue.hpp"
#include "Protocol/BridgeError.hpp"
#include "Reader/Links/LinkOpener.hpp"
#include "Reader/Links/LinkTargetCheck.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {

inline void PrintTo(const LinkOpener::Outcome& outcome, std::ostream* out) {
    *out << outcome.description();
}

namespace {

namespace fs = std::filesystem;
using Kind = OpenLinkPayload::Kind;
using Outcome = LinkOpener::Outcome;


// ---- fakes of the opener's surroundings ----------------------------------------

class FakeReader final : public LinkReader {
public:
    Task<ScrolledPayload> scrollToHeading(std::string id) override {
        scrolled.push_back(id);
        return answer(throws, ScrolledPayload{id, headingExists});
    }
    void showBanner(std::string message, std::string actionTitle, std::function<void()> onAction,
                    std::function<void()> onDismiss) override {
        banners.push_back(std::move(message));
        bannerAction = std::move(actionTitle);
        onBannerAction = std::move(onAction);
        onBannerDismiss = std::move(onDismiss);
    }
    void hideBanner() override { ++hides; }

    bool headingExists = true;
    bool throws = false;
    std::vector<std::string> scrolled;
    std::vector<std::string> banners;
    std::string bannerAction;
    std::function<void()> onBannerAction, onBannerDismiss;
    int hides = 0;

private:
    static Task<ScrolledPayload> answer(bool fail, ScrolledPayload reply) {
        if (fail) throw BridgeError::notAttached();
        co_return reply;
    }
};

class FakeDocument final : public LinkOpenerDocument {
public:
    std::optional<fs::path> filePath() const override { return file; }
    std::shared_ptr<LinkReader> linkReader() const override { return reader; }

    std::optional<fs::path> file;
    std::shared_ptr<FakeReader> reader = std::make_shared<FakeReader>();
};

class FakeDocuments final : public MarkdownDocumentOpener {
public:
    Task<Opened> openMarkdownDocument(fs::path file) override {
        opened.push_back(file);
        Opened result;
        result.alreadyOpen = alreadyOpen;
        result.scrollToFragment = [this](std::string fragment) { fragments.push_back(fragment); };
        return answer(failure, std::move(result));
    }

    bool alreadyOpen = false;
    std::optional<std::string> failure;
    std::vector<fs::path> opened;
    std::vector<std::string> fragments;

private:
    static Task<Opened> answer(std::optional<std::string> failure, Opened result) {
        if (failure) throw std::runtime_error(*failure);
        co_return result;
    }
};

class FakeConfirmation final : public OpenConfirmation {
public:
    Task<bool> confirm(Question question) override {
        asked.push_back(question);
        if (beforeAnswer) beforeAnswer();
        return answer(dialogVanishes, agrees);
    }

    bool agrees = true;
    bool dialogVanishes = false;  // destroyed without an answer
    std::function<void()> beforeAnswer;  // the user takes their time…
    std::vector<Question> asked;

private:
    static Task<bool> answer(bool vanishes, bool yes) {
        if (vanishes) throw BrokenPromise();
        co_return yes;
    }
};

class FakeLauncher final : public DefaultApplicationLauncher {
public:
    Task<Result> launch(std::string uri) override {
        launched.push_back(uri);
        return answer(result);
    }

    Result result{true, {}};
    std::vector<std::string> launched;

private:
    static Task<Result> answer(Result value) { co_return value; }
};

// ---- files of every kind ------------------------------------------------------

void writeFile(const fs::path& file, std::string_view bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void makeExecutable(const fs::path& file) {
    fs::permissions(file, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add);
}

void makeFifo(const fs::path& file) {
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0) << std::strerror(errno);
}

void makeSocket(const fs::path& file) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(file.string().size(), sizeof address.sun_path);
    std::strncpy(address.sun_path, file.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

const std::string kPdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<< >>\nendobj\n";
const std::string kPng = std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);

class LinkOpenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        document->file = dir / "notes/doc.md";
        dir.write("notes/doc.md", "# Doc\n");
    }

    std::shared_ptr<LinkOpener> opener() {
        if (!opener_) {
            opener_ = LinkOpener::create(document, {documents, confirmation, launcher});
        }
        return opener_;
    }
    Outcome open(Kind kind, std::string href) {
        return test::runTask(opener()->handle({std::move(href), kind, {false, false, false}}));
    }
    FakeReader& reader() { return *document->reader; }
    std::string banner(const std::string& message, const std::string& detail) {
        return "链接未打开：" + message + "（" + detail + "）";
    }
    std::string uriOf(const fs::path& file) { return LinkTargetCheck::fileURI(file); }

    test::LogCapture logs;
    test::TempDir dir;
    std::shared_ptr<FakeDocument> document = std::make_shared<FakeDocument>();
    std::shared_ptr<FakeDocuments> documents = std::make_shared<FakeDocuments>();
    std::shared_ptr<FakeConfirmation> confirmation = std::make_shared<FakeConfirmation>();
    std::shared_ptr<FakeLauncher> launcher = std::make_shared<FakeLauncher>();

private:
    std::shared_ptr<LinkOpener> opener_;
};

TEST_F(LinkOpenerTest, WebAndMailAddressesGoToTheirDefaultApplication) {
    EXPECT_EQ(open(Kind::external, " https://example.com/a?b#c "),
              Outcome::openedExternal("https://example.com/a?b#c"));
    EXPECT_EQ(open(Kind::external, "mailto:someone@example.com?subject=Hi&body=attach%20me"),
              Outcome::openedExternal("mailto:someone@example.com?subject=Hi&body=attach%20me"));
    EXPECT_EQ(launcher->launched,
              (std::vector<std::string>{"https://example.com/a?b#c",
                                        "mailto:someone@example.com?subject=Hi&body=attach%20me"}));
    EXPECT_TRUE(reader().banners.empty());
    EXPECT_TRUE(logs.contains("actions", "openLink kind=external"));
    EXPECT_TRUE(logs.contains("actions", "openLink 结果："));

    // The design's own refusals: scheme, shape.
    EXPECT_EQ(open(Kind::external, "javascript:alert(1)"),
              Outcome::rejected("不支持的协议 javascript:"));
    EXPECT_EQ(reader().banners.back(), banner("不支持的协议 javascript:", "javascript:alert(1)"));
    EXPECT_EQ(launcher->launched.size(), 2u);
}

TEST_F(LinkOpenerTest, MailAddressesThatAttachLocalFilesAreRefused) {
    const std::string refusal = "邮件链接要求附上本机文件，Larkspin 不会打开它";
    for (const std::string href : {
             "mailto:a@example.com?attach=/home/me/.ssh/id_rsa",
             "mailto:a@example.com?subject=x&attachment=file:///etc/passwd",
             "MAILTO:a@example.com?Attach=%2Fetc%2Fshadow",
             "mailto:a@example.com?%61ttach=/etc/passwd",
             "mailto:?body=hi;attachment=/etc/passwd",
         }) {
        EXPECT_EQ(open(Kind::external, href), Outcome::rejected(refusal)) << href;
        EXPECT_EQ(reader().banners.back(), banner(refusal, href));
    }
    EXPECT_TRUE(launcher->launched.empty());
}

TEST_F(LinkOpenerTest, WhenTheSystemCannotOpenTheBannerSaysSo) {
    launcher->result = {false, "No application is registered as handling this file"};
    EXPECT_EQ(open(Kind::external, "https://example.com"),
              Outcome::failed("系统未能打开 https://example.com"));
    EXPECT_EQ(reader().banners.back(),
              banner("系统未能打开 https://example.com",
                     "No application is registered as handling this file"));

    dir.write("notes/report.pdf", kPdf);
    EXPECT_EQ(open(Kind::relative, "report.pdf"), Outcome::failed("系统未能打开 report.pdf"));
    EXPECT_EQ(reader().banners.back(),
              banner("系统未能打开 report.pdf", "No application is registered as handling this file"));
    ASSERT_EQ(reader().banners.size(), 2u);

    // The banner's own button and its close both hide it.
    EXPECT_EQ(reader().bannerAction, "知道了");
    reader().onBannerAction();
    reader().onBannerDismiss();
    EXPECT_EQ(reader().hides, 2);
}

TEST_F(LinkOpenerTest, MarkdownFilesOpenAsDocumentsAtTheirFragment) {
    const auto other = dir.write("notes/sub/other.md", "# Other\n");
    const auto upper = dir.write("guide.MARKDOWN", "# Guide\n");

    EXPECT_EQ(open(Kind::relative, "sub/other.md"), Outcome::openedMarkdown(other, false));
    documents->alreadyOpen = true;
    EXPECT_EQ(open(Kind::relative, "./sub/other.md#Intro%20Part"),
              Outcome::openedMarkdown(other, true));
    EXPECT_EQ(open(Kind::file, "file://" + upper.string() + "#top"),
              Outcome::openedMarkdown(upper, true));
    EXPECT_EQ(documents->opened, (std::vector<fs::path>{other, other, upper}));
    EXPECT_EQ(documents->fragments, (std::vector<std::string>{"Intro Part", "top"}));
    EXPECT_TRUE(confirmation->asked.empty()) << "Markdown opens without a question";
    EXPECT_TRUE(launcher->launched.empty());

    documents->failure = "无法读取";
    EXPECT_EQ(open(Kind::relative, "sub/other.md"), Outcome::failed("无法读取"));
    EXPECT_EQ(reader().banners.back(), banner("other.md", "无法读取"));
    EXPECT_TRUE(logs.contains("actions", "打开本地链接失败"));
}

TEST_F(LinkOpenerTest, FragmentsScrollThisDocumentsReader) {
    EXPECT_EQ(open(Kind::fragment, "#Setup%20Steps"), Outcome::scrolled("Setup Steps", true));
    EXPECT_EQ(reader().scrolled, std::vector<std::string>{"Setup Steps"});
    EXPECT_TRUE(reader().banners.empty());

    reader().headingExists = false;
    EXPECT_EQ(open(Kind::fragment, "#nope"), Outcome::rejected("文档里没有这个标题"));
    EXPECT_EQ(reader().banners.back(), banner("文档里没有这个标题", "#nope"));

    reader().throws = true;
    const Outcome thrown = open(Kind::fragment, "#x");
    EXPECT_EQ(thrown.kind, Outcome::Kind::failed);
    EXPECT_TRUE(thrown.message.starts_with("scrollToHeading 失败：")) << thrown.message;
    EXPECT_EQ(reader().banners.size(), 1u) << "no banner for a page that did not answer";

    document->reader.reset();
    EXPECT_EQ(open(Kind::fragment, "#x"), Outcome::failed("没有阅读视图"));
}

TEST_F(LinkOpenerTest, OtherFilesOpenOnlyAfterTheUserAgrees) {
    const auto report = dir.write("elsewhere/deep/report.pdf", kPdf);
    EXPECT_EQ(open(Kind::relative, "../elsewhere/deep/report.pdf"), Outcome::openedOther(report));
    ASSERT_EQ(confirmation->asked.size(), 1u);
    const auto& question = confirmation->asked[0];
    EXPECT_EQ(question.heading, "用默认应用打开「report.pdf」？");
    EXPECT_TRUE(question.body.starts_with("这个链接指向的不是 Markdown 文件。Larkspin 不会自动执行任何文件"))
        << question.body;
    EXPECT_TRUE(question.body.ends_with("所在文件夹：" + report.parent_path().string()))
        << question.body;
    EXPECT_EQ(question.openLabel, "打开");
    EXPECT_EQ(question.cancelLabel, "取消");
    EXPECT_EQ(launcher->launched, std::vector<std::string>{uriOf(report)});

    // A picture with execute bits (as files copied from a FAT stick have)
    // is still only a picture.
    const auto photo = dir.write("notes/photo.png", kPng);
    makeExecutable(photo);
    EXPECT_EQ(open(Kind::relative, "photo.png"), Outcome::openedOther(photo));

    confirmation->agrees = false;
    EXPECT_EQ(open(Kind::relative, "photo.png"), Outcome::cancelled(photo));
    confirmation->agrees = true;
    confirmation->dialogVanishes = true;
    EXPECT_EQ(open(Kind::relative, "photo.png"), Outcome::cancelled(photo));
    EXPECT_EQ(launcher->launched.size(), 2u);
    EXPECT_TRUE(reader().banners.empty());
}

// Each case builds one link target; all of them are refused before any
// question, with a banner naming the file.
struct Refusal {
    std::string name;  // under notes/, linked relatively
    std::function<void(const fs::path&)> make;
    std::string message;
};

TEST_F(LinkOpenerTest, OnlyRegularFilesThatAreNoProgramsAreEverHandedOn) {
    const std::string missing = "链接目标不存在";
    const std::string folder = "链接目标不是文件";
    const std::string special = "链接目标不是普通文件（管道、套接字或设备）";
    const std::string program = "这是程序、脚本、启动器或安装包，Larkspin 不会打开它";
    const auto text = [](std::string bytes) {
        return [bytes](const fs::path& at) {
            writeFile(at, bytes);
        };
    };
    const auto executableText = [](std::string bytes) {
        return [bytes](const fs::path& at) {
            writeFile(at, bytes);
            makeExecutable(at);
        };
    };
    const std::vector<Refusal> cases{
        {"gone.pdf", [](const fs::path&) {}, missing},
        {"gone.md", [](const fs::path&) {}, missing},
        {"dangling.pdf", [](const fs::path& at) {
             fs::create_symlink("nowhere", at);
         }, missing},
        {"folder.pdf", [](const fs::path& at) { fs::create_directory(at); },
         folder},
        {"folder.md", [](const fs::path& at) { fs::create_directory(at); },
         folder},
        {"pipe.txt", [](const fs::path& at) { makeFifo(at); }, special},
        {"pipe.md", [](const fs::path& at) {
             makeFifo(at.parent_path() / ".fifo");
             fs::create_symlink(".fifo", at);
         }, special},
        {"socket.txt", [](const fs::path& at) { makeSocket(at); }, special},
        {"zero.txt", [](const fs::path& at) {
             fs::create_symlink("/dev/zero", at);
         }, special},
        {"null.md", [](const fs::path& at) {
             fs::create_symlink("/dev/null", at);
         }, special},
        {"editor.desktop", text("[Desktop Entry]\nType=Application\nExec=sh -c id\n"), program},
        {"Setup.EXE", text("MZ\x90\x00"), program},
        {"setup.msi", text("data"), program},
        {"tool.jar", text("PK\x03\x04"), program},
        {"App.AppImage", text("data"), program},
        {"app.flatpakref", text("[Flatpak Ref]\nName=x\n"), program},
        {"pkg.deb", text("!<arch>\n"), program},
        {"pkg.rpm", text("data"), program},
        {"install.sh", text("echo hi\n"), program},
        {"libthing.so.1.2", text("data"), program},
        // By content, whatever the name says.
        {"notes.txt", text("#!/bin/sh\nrm -rf ~\n"), program},
        {"innocent.pdf", text("[Desktop Entry]\nType=Application\nExec=sh -c id\n"), program},
        {"program", [](const fs::path& at) {
             fs::copy_file("/bin/true", at);
             fs::permissions(at, fs::perms::owner_read | fs::perms::owner_write);
         }, program},
        // Execute bits on something that can run.
        {"run-me.txt", executableText("echo hi\n"), program},
        {"linked.pdf", [](const fs::path& at) {
             writeFile(at.parent_path() / "real.desktop", "[Desktop Entry]\n");
             fs::create_symlink("real.desktop", at);
         }, program},
    };
    for (const auto& c : cases) {
        const fs::path target = dir / ("notes/" + c.name);
        c.make(target);
        if (::testing::Test::HasFatalFailure()) return;
        const Outcome outcome = open(Kind::relative, c.name);
        EXPECT_EQ(outcome, Outcome::rejected(c.message)) << c.name;
        ASSERT_FALSE(reader().banners.empty()) << c.name;
        EXPECT_EQ(reader().banners.back(), banner(c.message, c.name));
    }
    EXPECT_TRUE(confirmation->asked.empty());
    EXPECT_TRUE(documents->opened.empty());
    EXPECT_TRUE(launcher->launched.empty());
    EXPECT_TRUE(logs.contains("actions", "链接被拒绝"));
}

TEST_F(LinkOpenerTest, TheAnswerCountsOnlyForTheFileThatWasAskedAbout) {
    const auto target = dir.write("notes/plan.txt", "plan\n");
    const auto other = dir.write("notes/other.txt", "other\n");
    struct Swap {
        std::string what;
        std::function<void()> act;
        std::string message;
    };
    const std::vector<Swap> swaps{
        {"renamed over", [&] { fs::rename(other, target); }, "链接目标在确认之后被替换了，没有打开"},
        {"a pipe now", [&] {
             fs::remove(target);
             makeFifo(target);
         }, "链接目标不是普通文件（管道、套接字或设备）"},
        {"made a script", [&] {
             writeFile(target, "#!/bin/sh\nid\n");
             makeExecutable(target);
         }, "这是程序、脚本、启动器或安装包，Larkspin 不会打开它"},
        {"deleted", [&] { fs::remove(target); }, "链接目标不存在"},
    };
    for (const auto& swap : swaps) {
        fs::remove(target);
        writeFile(target, "plan\n");
        writeFile(other, "other\n");
        confirmation->beforeAnswer = swap.act;
        EXPECT_EQ(open(Kind::relative, "plan.txt"), Outcome::rejected(swap.message)) << swap.what;
        EXPECT_EQ(reader().banners.back(), banner(swap.message, "plan.txt")) << swap.what;
    }
    EXPECT_EQ(confirmation->asked.size(), swaps.size());
    EXPECT_TRUE(launcher->launched.empty());

    // Rewritten in place is the same file: the user agreed to open it.
    fs::remove(target);
    writeFile(target, "plan\n");
    confirmation->beforeAnswer = [&] { writeFile(target, "plan, revised\n"); };
    EXPECT_EQ(open(Kind::relative, "plan.txt"), Outcome::openedOther(target));
}

TEST_F(LinkOpenerTest, WithoutAFileOnlyAbsoluteTargetsResolve) {
    document->file.reset();
    EXPECT_EQ(open(Kind::relative, "other.md"),
              Outcome::rejected("当前文档尚未保存到磁盘，无法解析相对链接"));
    EXPECT_EQ(open(Kind::external, "https://example.com"),
              Outcome::openedExternal("https://example.com"));

    // The document gone: links still work, refusals are only logged.
    auto lone = LinkOpener::create(std::weak_ptr<LinkOpenerDocument>(),
                                   {documents, confirmation, launcher});
    const auto refused =
        test::runTask(lone->handle({"#top", Kind::fragment, {false, false, false}}));
    EXPECT_EQ(refused, Outcome::failed("没有阅读视图"));
    EXPECT_EQ(test::runTask(lone->handle({"https://example.org", Kind::external, {}})),
              Outcome::openedExternal("https://example.org"));

    // No dialog to ask with: the file is not opened.
    auto unasked = LinkOpener::create(document, {documents, nullptr, launcher});
    const auto file = dir.write("abs.txt", "x");
    EXPECT_EQ(test::runTask(unasked->handle({file.string(), Kind::file, {}})),
              Outcome::cancelled(file));
    EXPECT_EQ(launcher->launched.size(), 2u);
}

}  // namespace
}  // namespace larkspin
