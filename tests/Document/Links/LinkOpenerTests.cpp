#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Document/Links/LinkOpener.hpp"
#include "Document/Links/LinkTargetCheck.hpp"
#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Protocol/Envelope/BridgeError.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"
#include "Support/Threads.hpp"

namespace larkspin {

inline void PrintTo(const LinkOpener::Outcome& outcome, std::ostream* out) {
    *out << outcome.description();
}

namespace {

namespace fs = std::filesystem;
using Kind = OpenLinkPayload::Kind;
using Outcome = LinkOpener::Outcome;

// ---- fakes of the opener's surroundings ------------------------------------

// An answer that is already there (or an error).
template <typename T>
Task<T> settled(T value, std::exception_ptr error = nullptr) {
    if (error) std::rethrow_exception(error);
    co_return value;
}

// The document and its reader.
class FakeDocument final : public LinkOpenerDocument, public LinkReader {
public:
    std::optional<fs::path> filePath() const override { return file; }
    std::shared_ptr<LinkReader> linkReader() const override {
        return hasReader ? std::const_pointer_cast<FakeDocument>(self.lock()) : nullptr;
    }
    Task<ScrolledPayload> scrollToHeading(std::string id) override {
        scrolled.push_back(id);
        return settled(ScrolledPayload{id, headingExists},
                       throws ? std::make_exception_ptr(BridgeError::notAttached()) : nullptr);
    }
    BannerID showBanner(std::string message, std::string actionTitle, std::function<void()> onAction,
                        std::function<void()> onDismiss) override {
        banners.push_back(std::move(message));
        bannerAction = std::move(actionTitle);
        bannerHandlers = {std::move(onAction), std::move(onDismiss)};
        return banners.size();
    }
    void hideBanner(BannerID banner) override {
        EXPECT_EQ(banner, banners.size()) << "a hide names the banner it showed";
        ++hides;
    }

    std::weak_ptr<const FakeDocument> self;
    std::optional<fs::path> file;
    bool hasReader = true, headingExists = true, throws = false;
    std::vector<std::string> scrolled, banners;
    std::string bannerAction;
    std::pair<std::function<void()>, std::function<void()>> bannerHandlers;
    int hides = 0;
};

// A document the controller opened: it records the fragments it scrolls to.
class FakeOpenedDocument final : public OpenedDocument {
public:
    explicit FakeOpenedDocument(std::vector<std::string>& fragments) : fragments_(fragments) {}

    void makeWindowControllers() override {}
    void showWindows() override {}
    void applyRecoveryDraft(const RecoveryDraft&, std::optional<DraftSetAside>) override {}
    void setRecoveryStore(std::shared_ptr<RecoveryStore>) override {}
    bool isReadOnly() const override { return false; }
    void scrollToFragment(std::string fragment) override { fragments_.push_back(std::move(fragment)); }

private:
    std::vector<std::string>& fragments_;
};

// The document controller, the dialog and the desktop.
class FakeServices final : public DocumentOpener,
                           public OpenConfirmation,
                           public DefaultApplicationLauncher {
public:
    Task<Opened> openDocument(fs::path file, bool display) override {
        opened.push_back(file);
        displayed.push_back(display);
        Opened result{foreign ? nullptr : std::make_shared<FakeOpenedDocument>(fragments), alreadyOpen};
        return settled(result, failure ? std::make_exception_ptr(std::runtime_error(*failure)) : nullptr);
    }
    std::shared_ptr<OpenedDocument> makeUntitledDocument(std::string_view) override {
        throw std::logic_error("links never make untitled documents");
    }
    void addDocument(std::shared_ptr<OpenedDocument>) override {}
    Task<bool> confirm(Question question) override {
        asked.push_back(question);
        if (beforeAnswer) beforeAnswer();
        return settled(agrees, dialogVanishes ? std::make_exception_ptr(BrokenPromise()) : nullptr);
    }
    Task<Result> launch(std::string uri) override {
        launched.push_back(uri);
        return settled(result);
    }

    bool alreadyOpen = false, agrees = true;
    bool foreign = false;                // what opens is not one of our documents
    bool dialogVanishes = false;         // destroyed without an answer
    std::function<void()> beforeAnswer;  // what happens while the question stands
    std::optional<std::string> failure;
    std::vector<fs::path> opened;
    std::vector<bool> displayed;
    std::vector<std::string> fragments, launched;
    std::vector<Question> asked;
    Result result{true, {}};
};

// ---- files of every kind ------------------------------------------------------

void writeFile(const fs::path& file, std::string_view bytes, bool executable = false) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (executable) fs::permissions(file, fs::perms::owner_exec | fs::perms::group_exec, fs::perm_options::add);
}
void makeFifo(const fs::path& file) { ASSERT_EQ(mkfifo(file.c_str(), 0600), 0) << std::strerror(errno); }

const std::string kPdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<< >>\nendobj\n";
const std::string kPng = std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);

class LinkOpenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        document->self = document;
        document->file = dir / "notes/doc.md";
        dir.write("notes/doc.md", "# Doc\n");
    }
    Outcome open(Kind kind, std::string href) {
        return test::runTask(opener->handle({std::move(href), kind, {false, false, false}}));
    }
    static std::string banner(const std::string& message, const std::string& detail) {
        return "链接未打开：" + message + "（" + detail + "）";
    }
    // The banner shown last; a marker when there was none, so that a failed
    // check reports rather than reading past the end.
    std::string lastBanner() const {
        return document->banners.empty() ? "<no banner>" : document->banners.back();
    }

    test::LogCapture logs;
    test::TempDir dir;
    std::shared_ptr<FakeDocument> document = std::make_shared<FakeDocument>();
    FakeDocument& reader = *document;
    std::shared_ptr<FakeServices> desktop = std::make_shared<FakeServices>();
    std::shared_ptr<LinkOpener> opener = LinkOpener::create(document, {desktop, desktop, desktop});
};

TEST_F(LinkOpenerTest, AddressesGoToTheirDefaultApplicationUnlessTheyAttachFiles) {
    EXPECT_EQ(open(Kind::external, " https://example.com/a?b#c "),
              Outcome::openedExternal("https://example.com/a?b#c"));
    EXPECT_EQ(open(Kind::external, "mailto:me@example.com?subject=attach"),
              Outcome::openedExternal("mailto:me@example.com?subject=attach"));
    EXPECT_EQ(desktop->launched.size(), 2u);
    EXPECT_TRUE(reader.banners.empty());

    const std::string attaches = "邮件链接要求附上本机文件，Larkspin 不会打开它";
    const std::string href = "mailto:a@example.com?subject=x&Attachment=%2Fetc%2Fshadow";
    EXPECT_EQ(open(Kind::external, href), Outcome::rejected(attaches));
    EXPECT_EQ(lastBanner(), banner(attaches, href));
    EXPECT_EQ(open(Kind::external, "javascript:alert(1)"), Outcome::rejected("不支持的协议 javascript:"));
    EXPECT_EQ(desktop->launched.size(), 2u);

    // The desktop could not open it: said in the banner, not only logged.
    const std::string reason = "No application is registered as handling this file";
    desktop->result = {false, reason};
    EXPECT_EQ(open(Kind::external, "https://example.com"), Outcome::failed("系统未能打开 https://example.com"));
    EXPECT_EQ(lastBanner(), banner("系统未能打开 https://example.com", reason));
    dir.write("notes/report.pdf", kPdf);
    EXPECT_EQ(open(Kind::relative, "report.pdf"), Outcome::failed("系统未能打开 report.pdf"));
    EXPECT_EQ(lastBanner(), banner("系统未能打开 report.pdf", reason));

    // The banner's button and its close both hide it.
    EXPECT_EQ(reader.bannerAction, "知道了");
    reader.bannerHandlers.first();
    reader.bannerHandlers.second();
    EXPECT_EQ(reader.hides, 2);
    EXPECT_TRUE(logs.contains("actions", "openLink kind=external"));
}

TEST_F(LinkOpenerTest, MarkdownFilesOpenAsDocumentsAndFragmentsScrollThisOne) {
    const auto other = dir.write("notes/sub/other.md", "# Other\n");
    const auto upper = dir.write("guide.MARKDOWN", "# Guide\n");
    EXPECT_EQ(open(Kind::relative, "sub/other.md"), Outcome::openedMarkdown(other, false));
    desktop->alreadyOpen = true;
    EXPECT_EQ(open(Kind::relative, "./sub/other.md#Intro%20Part"), Outcome::openedMarkdown(other, true));
    EXPECT_EQ(open(Kind::file, "file://" + upper.string() + "#top"), Outcome::openedMarkdown(upper, true));
    EXPECT_EQ(desktop->opened, (std::vector<fs::path>{other, other, upper}));
    EXPECT_EQ(desktop->displayed, (std::vector<bool>{true, true, true})) << "opened documents show";
    EXPECT_EQ(desktop->fragments, (std::vector<std::string>{"Intro Part", "top"}));
    EXPECT_TRUE(desktop->asked.empty() && desktop->launched.empty()) << "Markdown opens without a question";
    desktop->foreign = true;  // opened, but nothing of ours to scroll
    EXPECT_EQ(open(Kind::relative, "sub/other.md#Elsewhere"), Outcome::openedMarkdown(other, true));
    EXPECT_EQ(desktop->fragments.size(), 2u);
    desktop->foreign = false;
    desktop->failure = "无法读取";
    EXPECT_EQ(open(Kind::relative, "sub/other.md"), Outcome::failed("无法读取"));
    EXPECT_EQ(lastBanner(), banner("other.md", "无法读取"));
    EXPECT_TRUE(logs.contains("actions", "打开本地链接失败"));

    EXPECT_EQ(open(Kind::fragment, "#Setup%20Steps"), Outcome::scrolled("Setup Steps", true));
    EXPECT_EQ(reader.scrolled, std::vector<std::string>{"Setup Steps"});
    reader.headingExists = false;
    EXPECT_EQ(open(Kind::fragment, "#nope"), Outcome::rejected("文档里没有这个标题"));
    EXPECT_EQ(lastBanner(), banner("文档里没有这个标题", "#nope"));
    reader.throws = true;
    const Outcome thrown = open(Kind::fragment, "#x");
    EXPECT_TRUE(thrown.kind == Outcome::Kind::failed && thrown.message.starts_with("scrollToHeading 失败："))
        << thrown.message;
    EXPECT_EQ(reader.banners.size(), 2u) << "no banner for a page that did not answer";
    reader.hasReader = false;
    EXPECT_EQ(open(Kind::fragment, "#x"), Outcome::failed("没有阅读视图"));
}

TEST_F(LinkOpenerTest, OtherFilesOpenOnlyAfterTheUserAgrees) {
    const auto report = dir.write("elsewhere/deep/report.pdf", kPdf);
    EXPECT_EQ(open(Kind::relative, "../elsewhere/deep/report.pdf"), Outcome::openedOther(report));
    ASSERT_EQ(desktop->asked.size(), 1u);
    const auto& question = desktop->asked[0];
    EXPECT_EQ(question.heading, "用默认应用打开「report.pdf」？");
    EXPECT_TRUE(question.body.starts_with("这个链接指向的不是 Markdown 文件。Larkspin 不会自动执行任何文件"));
    EXPECT_TRUE(question.body.ends_with("所在文件夹：" + report.parent_path().string())) << question.body;
    EXPECT_EQ(question.openLabel + question.cancelLabel, "打开取消");
    EXPECT_EQ(desktop->launched, std::vector<std::string>{LinkTargetCheck::fileURI(report)});

    // A picture with execute bits (as files copied from a FAT stick have)
    // is still only a picture.
    const auto photo = dir / "notes/photo.png";
    writeFile(photo, kPng, true);
    EXPECT_EQ(open(Kind::relative, "photo.png"), Outcome::openedOther(photo));
    desktop->agrees = false;
    EXPECT_EQ(open(Kind::relative, "photo.png"), Outcome::cancelled(photo));
    desktop->agrees = true;
    desktop->dialogVanishes = true;
    EXPECT_EQ(open(Kind::relative, "photo.png"), Outcome::cancelled(photo));
    EXPECT_EQ(desktop->launched.size(), 2u);
    EXPECT_TRUE(reader.banners.empty());

    // Without a file to resolve against, or a dialog to ask with.
    auto unasked = LinkOpener::create(document, {desktop, nullptr, desktop});
    EXPECT_EQ(test::runTask(unasked->handle({report.string(), Kind::file, {}})), Outcome::cancelled(report));
    document->file.reset();
    EXPECT_EQ(open(Kind::relative, "other.md"), Outcome::rejected("当前文档尚未保存到磁盘，无法解析相对链接"));
    EXPECT_EQ(desktop->launched.size(), 2u);
}

TEST_F(LinkOpenerTest, OnlyRegularFilesThatAreNoProgramsAreEverHandedOn) {
    const std::string missing = "链接目标不存在", folder = "链接目标不是文件";
    const std::string special = "链接目标不是普通文件（管道、套接字或设备）";
    const std::string program = "这是程序、脚本、启动器或安装包，Larkspin 不会打开它";
    // Each case makes one link target under notes/, linked relatively.
    using Make = std::function<void(const fs::path&)>;
    const Make nothing = [](const fs::path&) {};
    const Make directory = [](const fs::path& at) { fs::create_directory(at); };
    const auto linkTo = [](std::string to) -> Make { return [to](const fs::path& at) { fs::create_symlink(to, at); }; };
    const auto holding = [](std::string bytes, bool executable = false) -> Make {
        return [bytes, executable](const fs::path& at) { writeFile(at, bytes, executable); };
    };
    std::vector<std::tuple<std::string, Make, std::string>> cases;
    for (const std::string name : {"editor.desktop", "Setup.EXE", "setup.msi", "tool.jar", "App.AppImage",
                                   "app.flatpakref", "pkg.deb", "pkg.rpm", "install.sh", "libthing.so.1.2"}) {
        cases.emplace_back(name, holding("data"), program);
    }
    cases.insert(cases.end(), {
        {"gone.pdf", nothing, missing},
        {"gone.md", nothing, missing},
        {"dangling.pdf", linkTo("nowhere"), missing},
        {"folder.pdf", directory, folder},
        {"folder.md", directory, folder},
        {"pipe.txt", makeFifo, special},
        {"pipe.md", [](const fs::path& at) { makeFifo(at.parent_path() / ".fifo"); fs::create_symlink(".fifo", at); }, special},
        {"null.md", linkTo("/dev/null"), special},
        // By content, whatever the name says; by execute bits on what can run.
        {"notes.txt", holding("#!/bin/sh\nrm -rf ~\n"), program},
        {"innocent.pdf", holding("[Desktop Entry]\nType=Application\nExec=sh -c id\n"), program},
        {"linked.pdf", linkTo("editor.desktop"), program},
        {"program", [](const fs::path& at) {
             fs::copy_file("/bin/true", at);
             fs::permissions(at, fs::perms::owner_read | fs::perms::owner_write);
         }, program},
        {"run-me.txt", holding("echo hi\n", true), program},
    });
    for (const auto& [name, make, message] : cases) {
        make(dir / ("notes/" + name));
        if (::testing::Test::HasFatalFailure()) return;
        EXPECT_EQ(open(Kind::relative, name), Outcome::rejected(message)) << name;
        EXPECT_EQ(lastBanner(), banner(message, name)) << name;
    }
    EXPECT_TRUE(desktop->asked.empty() && desktop->opened.empty() && desktop->launched.empty());
    EXPECT_TRUE(logs.contains("actions", "链接被拒绝"));
}

TEST_F(LinkOpenerTest, TheAnswerCountsOnlyForTheFileThatWasAskedAbout) {
    const auto target = dir / "notes/plan.txt", other = dir / "notes/other.txt";
    const std::vector<std::tuple<std::string, std::function<void()>, std::string>> swaps{
        {"renamed over", [&] { fs::rename(other, target); }, "链接目标在确认之后被替换了，没有打开"},
        {"a pipe now", [&] { fs::remove(target); makeFifo(target); }, "链接目标不是普通文件（管道、套接字或设备）"},
        {"made a script", [&] { writeFile(target, "#!/bin/sh\nid\n", true); },
         "这是程序、脚本、启动器或安装包，Larkspin 不会打开它"},
        {"deleted", [&] { fs::remove(target); }, "链接目标不存在"},
    };
    for (const auto& [what, act, message] : swaps) {
        fs::remove(target);
        writeFile(target, "plan\n");
        writeFile(other, "other\n");
        desktop->beforeAnswer = act;
        EXPECT_EQ(open(Kind::relative, "plan.txt"), Outcome::rejected(message)) << what;
        EXPECT_EQ(lastBanner(), banner(message, "plan.txt")) << what;
    }
    EXPECT_EQ(desktop->asked.size(), swaps.size());
    EXPECT_TRUE(desktop->launched.empty());

    // Rewritten in place is the same file: the user agreed to open it.
    fs::remove(target);
    writeFile(target, "plan\n");
    desktop->beforeAnswer = [&] { writeFile(target, "plan, revised\n"); };
    EXPECT_EQ(open(Kind::relative, "plan.txt"), Outcome::openedOther(target));
}

// A check that stops in its first stat() until released: a disk that hangs.
struct SlowDisk {
    BlockingWait entered, release;
    std::atomic<bool> onMainThread{false};

    static SysCalls calls(const std::shared_ptr<SlowDisk>& disk) {
        SysCalls sys = realSysCalls();
        sys.stat = [disk, real = sys.stat](const char* path, struct stat* status) {
            if (MainThread::isMainThread()) disk->onMainThread = true;
            disk->entered.signal();
            disk->release.waitForTesting(test::waitLimit);
            return real(path, status);
        };
        return sys;
    }
    bool waitUntilEntered() {
        return test::runMainLoopUntil([this] { return entered.isSignalled(); });
    }
};

Task<void> recordInto(Task<Outcome> task, std::shared_ptr<std::optional<Outcome>> result) {
    *result = co_await std::move(task);
}

// The checks stat, open and read on a worker while the main loop goes on;
// what happens meanwhile (the opener goes, the click's owner goes, another
// click comes) is safe.
TEST_F(LinkOpenerTest, ChecksRunOnAWorkerAndWhatHappensMeanwhileIsSafe) {
    const auto other = dir.write("notes/other.md", "# Other\n");
    const auto report = dir.write("notes/report.pdf", kPdf);
    const OpenLinkPayload markdown{"other.md", Kind::relative, {}};
    const OpenLinkPayload pdf{"report.pdf", Kind::relative, {}};

    {
        SCOPED_TRACE("the opener goes");
        auto disk = std::make_shared<SlowDisk>();
        auto slow =
            LinkOpener::create(document, {desktop, desktop, desktop}, SlowDisk::calls(disk));
        auto outcome = test::startTask(slow->handle(markdown));
        ASSERT_TRUE(disk->waitUntilEntered());
        slow.reset();
        disk->release.signal();
        ASSERT_TRUE(test::runMainLoopUntil([&] { return outcome->finished; }));
        EXPECT_EQ(outcome->value, Outcome::failed("链接打开器已释放"));
        EXPECT_FALSE(disk->onMainThread);
    }
    {
        SCOPED_TRACE("the click's owner goes");
        auto disk = std::make_shared<SlowDisk>();
        auto slow =
            LinkOpener::create(document, {desktop, desktop, desktop}, SlowDisk::calls(disk));
        auto result = std::make_shared<std::optional<Outcome>>();
        auto owner = std::make_unique<TaskScope>();
        owner->spawn(recordInto(slow->handle(pdf), result));
        ASSERT_TRUE(disk->waitUntilEntered());
        owner.reset();
        disk->release.signal();
        (void)test::runMainLoopUntil([] { return false; }, 20);  // the cancelled task ends
        EXPECT_FALSE(result->has_value());
        EXPECT_FALSE(disk->onMainThread);
    }
    EXPECT_TRUE(desktop->opened.empty() && desktop->asked.empty() && desktop->launched.empty());
    EXPECT_TRUE(reader.banners.empty());
    {
        SCOPED_TRACE("two clicks at once");
        auto disk = std::make_shared<SlowDisk>();
        auto slow =
            LinkOpener::create(document, {desktop, desktop, desktop}, SlowDisk::calls(disk));
        auto first = test::startTask(slow->handle(pdf));
        auto second = test::startTask(slow->handle(markdown));
        ASSERT_TRUE(disk->waitUntilEntered());
        disk->release.signal();
        ASSERT_TRUE(test::runMainLoopUntil([&] { return first->finished && second->finished; }));
        EXPECT_EQ(first->value, Outcome::openedOther(report));
        EXPECT_EQ(second->value, Outcome::openedMarkdown(other, false));
        EXPECT_FALSE(disk->onMainThread);
    }
}

}  // namespace
}  // namespace larkspin
