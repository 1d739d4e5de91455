#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Protocol/Schemes/DocumentResourceSchemeHandler.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Protocol/SchemeTestSupport.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;
using Handler = DocumentResourceSchemeHandler;
using Reason = Handler::RejectReason;
using test::FakeSchemeTask;

struct ParseCase {
    const char* url;
    std::variant<Handler::ParsedRequest, Reason> expected;
};

TEST(DocumentResourceParse, Table) {
    using P = Handler::ParsedRequest;
    const ParseCase cases[] = {
        {"document-resource://DOC-1/?path=/abs/a.png", P{"DOC-1", "/abs/a.png"}},
        {"DOCUMENT-RESOURCE://doc/?path=a.PNG", P{"doc", "a.PNG"}},
        {"document-resource://doc%2D1/?path=img/a.jpeg#frag", P{"doc-1", "img/a.jpeg"}},
        {"document-resource://doc?path=../up/a.webp", P{"doc", "../up/a.webp"}},
        {"document-resource://doc/?x=1&path=a+b.gif&path=b.png", P{"doc", "a+b.gif"}},
        {"document-resource://doc/?path=%E5%9B%BE.jpg", P{"doc", "\xE5\x9B\xBE.jpg"}},
        {"app-resource://doc/?path=a.png", Reason::badScheme},
        {"document-resource:a.png", Reason::badScheme},
        {"document-resource://?path=a.png", Reason::badScheme},
        {"document-resource://%zz/?path=a.png", Reason::badScheme},
        {"not a url", Reason::badScheme},
        {"document-resource://doc/a.png", Reason::badPath},
        {"document-resource://doc/?Path=a.png", Reason::badPath},
        {"document-resource://doc/?path", Reason::badPath},
        {"document-resource://doc/?path=", Reason::badPath},
        {"document-resource://doc/?path=~/a.png", Reason::badPath},
        {"document-resource://doc/?path=a%5Cb.png", Reason::badPath},
        {"document-resource://doc/?path=a%00.png", Reason::badPath},
        {"document-resource://doc/?path=%FF.png", Reason::badPath},
        {"document-resource://doc/?path=a.svg", Reason::extensionNotAllowed},
        {"document-resource://doc/?path=a.bmp", Reason::extensionNotAllowed},
        {"document-resource://doc/?path=picture", Reason::extensionNotAllowed},
        {"document-resource://doc/?path=.png", Reason::extensionNotAllowed},
        {"document-resource://doc/?path=a.png.txt", Reason::extensionNotAllowed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(Handler::parse(c.url), c.expected);
    }
}

TEST(DocumentResourceParse, FullPathIsStandardisedButNotConfined) {
    const fs::path document = "/home/u/notes/readme.md";
    EXPECT_EQ(Handler::resolveFullPath({"d", "img/./a.png"}, document),
              (std::variant<std::string, Reason>("/home/u/notes/img/a.png")));
    EXPECT_EQ(Handler::resolveFullPath({"d", "../../../etc/a.png"}, document),
              (std::variant<std::string, Reason>("/etc/a.png")));
    EXPECT_EQ(Handler::resolveFullPath({"d", "/x/../y/a.png"}, std::nullopt),
              (std::variant<std::string, Reason>("/y/a.png")));
    EXPECT_EQ(Handler::resolveFullPath({"d", "a.png"}, std::nullopt),
              (std::variant<std::string, Reason>(Reason::noDocumentLocation)));
}

Reason rejection(const std::variant<Handler::ServedResource, Reason>& result) {
    if (const auto* reason = std::get_if<Reason>(&result)) return *reason;
    ADD_FAILURE() << "served";
    return Reason::cancelled;
}

class ImageFiles : public ::testing::Test {
protected:
    std::string path(std::string_view name) const { return (dir.path() / name).string(); }
    test::TempDir dir;
};

TEST_F(ImageFiles, SignatureDecidesTheType) {
    dir.write("a.png", test::jpegHeader(30, 20));
    const auto served = Handler::load(path("a.png"));
    ASSERT_TRUE(std::holds_alternative<Handler::ServedResource>(served));
    const auto& resource = std::get<Handler::ServedResource>(served);
    EXPECT_EQ(resource.mimeType, "image/jpeg");
    EXPECT_EQ(resource.pixelWidth, 30);
    EXPECT_EQ(resource.pixelHeight, 20);
    EXPECT_EQ(resource.data, test::jpegHeader(30, 20));

    dir.write("text.jpg", "just some text, not an image");
    EXPECT_EQ(rejection(Handler::load(path("text.jpg"))), Reason::unknownMagic);
    dir.write("short.png", test::pngHeader(1, 1).substr(0, 11));
    EXPECT_EQ(rejection(Handler::load(path("short.png"))), Reason::unknownMagic);
    dir.write("empty.png", "");
    EXPECT_EQ(rejection(Handler::load(path("empty.png"))), Reason::unknownMagic);
    dir.write("broken.png", test::pngHeader(1, 1).substr(0, 20));
    EXPECT_EQ(rejection(Handler::load(path("broken.png"))), Reason::pixelSizeUnavailable);
}

TEST_F(ImageFiles, SizeAndPixelLimits) {
    std::string exact = test::pngHeader(8192, 8192);
    exact.resize(static_cast<std::size_t>(Handler::byteLimit), '\0');
    dir.write("exact.png", exact);
    EXPECT_TRUE(std::holds_alternative<Handler::ServedResource>(Handler::load(path("exact.png"))));
    exact.push_back('\0');
    dir.write("over.png", exact);
    EXPECT_EQ(rejection(Handler::load(path("over.png"))), Reason::tooLarge);

    dir.write("wide.png", test::pngHeader(8193, 1));
    EXPECT_EQ(rejection(Handler::load(path("wide.png"))), Reason::pixelSizeTooLarge);
    dir.write("tall.png", test::pngHeader(1, 8193));
    EXPECT_EQ(rejection(Handler::load(path("tall.png"))), Reason::pixelSizeTooLarge);
}

TEST_F(ImageFiles, OnlyRegularFilesAreOpened) {
    fs::create_directory(dir.path() / "folder.png");
    EXPECT_EQ(rejection(Handler::load(path("folder.png"))), Reason::notRegularFile);
    EXPECT_EQ(rejection(Handler::load(path("missing.png"))), Reason::openFailed);

    // Reading any of these could block or never end; none is even opened.
    ASSERT_EQ(::mkfifo(path("pipe.png").c_str(), 0600), 0);
    EXPECT_EQ(rejection(Handler::load(path("pipe.png"))), Reason::notRegularFile);
    fs::create_symlink("/dev/zero", dir.path() / "zero.png");
    EXPECT_EQ(rejection(Handler::load(path("zero.png"))), Reason::notRegularFile);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = path("sock.png");
    ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(rejection(Handler::load(socketPath)), Reason::notRegularFile);
    ::close(sock);

    // A FIFO put in place after the look at the path: the non-blocking open
    // returns at once and the descriptor is refused.
    SysCalls sys = realSysCalls();
    sys.stat = [](const char*, struct stat* status) {
        *status = {};
        status->st_mode = S_IFREG | 0644;
        return 0;
    };
    EXPECT_EQ(rejection(Handler::load(path("pipe.png"), sys)), Reason::notRegularFile);
}

TEST_F(ImageFiles, RefusedOpensAndFailedReads) {
    dir.write("a.png", test::pngHeader(2, 2));
    for (int error : {EACCES, EPERM}) {
        SysCalls sys = realSysCalls();
        sys.open = [error](const char*, int, mode_t) {
            errno = error;
            return -1;
        };
        EXPECT_EQ(rejection(Handler::load(path("a.png"), sys)), Reason::accessDenied);
        sys = realSysCalls();
        sys.stat = [error](const char*, struct stat*) {
            errno = error;
            return -1;
        };
        EXPECT_EQ(rejection(Handler::load(path("a.png"), sys)), Reason::accessDenied);
    }
    SysCalls sys = realSysCalls();
    auto opened = std::make_shared<std::atomic<int>>(0);
    sys.open = [opened](const char* p, int flags, mode_t mode) {
        EXPECT_TRUE(flags & O_NONBLOCK);
        ++*opened;
        return ::open(p, flags, mode);
    };
    sys.close = [opened](int fd) {
        --*opened;
        return ::close(fd);
    };
    sys.read = [](int, void*, std::size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    EXPECT_EQ(rejection(Handler::load(path("a.png"), sys)), Reason::readFailed);
    EXPECT_EQ(*opened, 0);  // closed on the way out
}

TEST_F(ImageFiles, AFileThatGrowsWhileReadIsCutAndRefused) {
    // The descriptor says 24 bytes; the reads bring more than the limit.
    std::string grown = test::pngHeader(2, 2);
    grown.resize(static_cast<std::size_t>(Handler::byteLimit) + 4096, '\0');
    dir.write("grows.png", grown);
    auto delivered = std::make_shared<std::atomic<std::int64_t>>(0);
    SysCalls sys = realSysCalls();
    sys.fstat = [](int fd, struct stat* status) {
        const int result = ::fstat(fd, status);
        status->st_size = 24;
        return result;
    };
    sys.read = [delivered](int fd, void* buffer, std::size_t count) {
        const ssize_t got = ::read(fd, buffer, count);
        if (got > 0) *delivered += got;
        return got;
    };
    EXPECT_EQ(rejection(Handler::load(path("grows.png"), sys)), Reason::tooLarge);
    EXPECT_EQ(*delivered, Handler::byteLimit + 1);  // never more than one byte over
}

class DocumentImages : public ::testing::Test {
protected:
    void SetUp() override { AppLog::setRevealPrivateForTesting(true); }
    void TearDown() override { AppLog::setRevealPrivateForTesting(std::nullopt); }

    std::shared_ptr<FakeSchemeTask> request(const std::string& url) {
        auto task = std::make_shared<FakeSchemeTask>(url);
        handler->start(task);
        return task;
    }
    void finish(const std::shared_ptr<FakeSchemeTask>& task) {
        ASSERT_TRUE(test::runMainLoopUntil([&] { return task->answers > 0; }));
    }

    test::TempDir dir;
    test::LogCapture logs;
    std::shared_ptr<Handler> handler =
        Handler::create(std::make_shared<PooledResourceWorkers>("test", 2));
};

TEST_F(DocumentImages, TheDocumentsOneLocation) {
    handler->setDocumentLocation(fs::path("/docs/./a/readme.md"));
    EXPECT_EQ(handler->documentLocation(), fs::path("/docs/a/readme.md"));
    EXPECT_TRUE(logs.contains("resources", "文档的位置：/docs/./a/readme.md"));
    handler->setDocumentLocation(fs::path("relative.md"));  // not a file location
    EXPECT_EQ(handler->documentLocation(), std::nullopt);
    EXPECT_TRUE(logs.contains("resources", "文档没有位置，相对图片不可用"));
}

TEST_F(DocumentImages, ServesRelativeAndAbsolutePaths) {
    dir.write("docs/readme.md", "# hi");
    const auto image = dir.write("shared/pic.png", test::pngHeader(3, 2));
    handler->setDocumentLocation(dir.path() / "docs/readme.md");

    // Out of the document's folder with "..", and a percent-encoded host.
    const std::string url = "document-resource://doc%2D1/?path=../shared/pic.png";
    auto relative = request(url);
    finish(relative);
    ASSERT_TRUE(relative->response);
    EXPECT_EQ(relative->response->contentType, "image/png");
    const std::vector<std::pair<std::string, std::string>> headers{
        {"Content-Type", "image/png"},
        {"Content-Length", "33"},
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
    };
    EXPECT_EQ(relative->response->headers, headers);
    EXPECT_TRUE(logs.contains("resources", "服务：" + image.string() + " image/png 3×2 33 字节"));

    // Absolute: no location needed.
    auto absolute = request("document-resource://unknown/?path=" + image.string());
    finish(absolute);
    EXPECT_TRUE(absolute->response);
}

TEST_F(DocumentImages, RejectionsFailWithTheirReason) {
    const std::string url = "document-resource://doc/?path=img/a.png";
    auto noLocation = request(url);
    EXPECT_EQ(noLocation->failure, SchemeFailure::fileDoesNotExist());  // at once
    EXPECT_TRUE(logs.contains(
        "resources",
        "拒绝：" + url +
            "（DocumentResourceSchemeHandler.RejectReason 1：文档尚未保存，无法解析相对路径）"));

    auto badScheme = request("document-resource:///?path=a.png");
    EXPECT_EQ(badScheme->failure, SchemeFailure::fileDoesNotExist());
    EXPECT_TRUE(logs.contains("resources", "拒绝：document-resource:///?path=a.png（DocumentResourceSchemeHandler.RejectReason 0："));

    auto noURL = std::make_shared<FakeSchemeTask>(std::nullopt);
    handler->start(noURL);
    EXPECT_EQ(noURL->failure, SchemeFailure::fileDoesNotExist());
    EXPECT_TRUE(logs.contains("resources", "拒绝：<nil>（DocumentResourceSchemeHandler.RejectReason 0："));

    // Linux wording: no other platform's privacy feature.
    EXPECT_EQ(Handler::message(Reason::accessDenied).find("隐私"), std::string_view::npos);
    dir.write("text.png", "this is text, not a picture");
    auto magic = request("document-resource://doc/?path=" + (dir.path() / "text.png").string());
    finish(magic);
    EXPECT_EQ(magic->failure, SchemeFailure::fileDoesNotExist());
    EXPECT_TRUE(logs.contains(
        "resources", "（DocumentResourceSchemeHandler.RejectReason 8：文件头不是已知图片格式）"));
}

TEST_F(DocumentImages, AccessDeniedCallsTheDocumentsCallbackOnce) {
    auto sys = std::make_shared<SysCalls>(realSysCalls());
    sys->open = [](const char*, int, mode_t) {
        errno = EACCES;
        return -1;
    };
    handler = Handler::create(std::make_shared<PooledResourceWorkers>("test", 1), sys);
    const auto image = dir.write("docs/locked.png", test::pngHeader(1, 1));
    handler->setDocumentLocation(dir.path() / "docs/readme.md");
    std::vector<std::pair<std::string, std::string>> calls;
    handler->setAccessDeniedCallback([&](const std::string& id, const std::string& full) {
        calls.emplace_back(id, full);
    });
    auto task = request("document-resource://mine/?path=locked.png");
    finish(task);
    EXPECT_EQ(task->failure, SchemeFailure::fileDoesNotExist());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (std::pair<std::string, std::string>{"mine", image.string()}));
    EXPECT_TRUE(logs.contains("resources", "（DocumentResourceSchemeHandler.RejectReason 5："));

    handler->setAccessDeniedCallback(nullptr);
    auto again = request("document-resource://mine/?path=locked.png");
    finish(again);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(DocumentImages, StoppedAndReplacedRequestsGetNothingLate) {
    auto workers = std::make_shared<test::ManualWorkers>();
    handler = Handler::create(workers);
    const auto image = dir.write("a.png", test::pngHeader(1, 1));
    const std::string url = "document-resource://d/?path=" + image.string();
    auto stopped = request(url);
    auto replaced = request(url);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return workers->pending() == 2; }));
    handler->stop(*stopped);
    handler->start(replaced);  // newer start under the same identity
    ASSERT_TRUE(test::runMainLoopUntil([&] { return workers->pending() == 3; }));
    workers->runAll();
    MainThread::drainForTesting();
    EXPECT_EQ(stopped->answers, 0);
    EXPECT_EQ(replaced->answers, 1);
}

// A reader keeps its handler across rebuilds: the old web view's end, which
// may come while the new one still loads its images, stops only the old
// view's requests. Those get nothing and leave no outcome; the new view's
// are all served, the ones started after the old view went too.
TEST_F(DocumentImages, TheEndOfOneWebViewStopsOnlyItsOwnRequests) {
    auto workers = std::make_shared<test::ManualWorkers>();
    handler = Handler::create(workers);
    const auto image = dir.write("a.png", test::pngHeader(2, 1));
    const std::string url = "document-resource://d/?path=" + image.string();
    constexpr FakeSchemeTask::WebViewKey oldView = 0x10, newView = 0x20;
    std::vector<std::shared_ptr<FakeSchemeTask>> olds, news;
    for (int n = 0; n < 3; ++n) {
        for (auto [key, list] : {std::pair{oldView, &olds}, std::pair{newView, &news}}) {
            list->push_back(std::make_shared<FakeSchemeTask>(url, key));
            handler->start(list->back());
        }
    }
    ASSERT_TRUE(test::runMainLoopUntil([&] { return workers->pending() == 6; }));
    handler->stopAll(oldView);
    news.push_back(std::make_shared<FakeSchemeTask>(url, newView));
    handler->start(news.back());
    ASSERT_TRUE(test::runMainLoopUntil([&] { return workers->pending() == 7; }));
    workers->runAll();
    ASSERT_TRUE(test::runMainLoopUntil([&] {
        return std::ranges::all_of(news, [](const auto& task) { return task->answers > 0; });
    }));
    MainThread::drainForTesting();
    for (const auto& task : news) {
        EXPECT_EQ(task->answers, 1);
        EXPECT_EQ(task->header("Content-Type"), "image/png");
    }
    for (const auto& task : olds) EXPECT_EQ(task->answers, 0);
    EXPECT_TRUE(logs.contains("resources", " image/png 2×1 33 字节"));

    // Once the new view goes too, a read still running is dropped.
    auto late = std::make_shared<FakeSchemeTask>(url, newView);
    handler->start(late);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return workers->pending() == 1; }));
    handler->stopAll(newView);
    workers->runAll();
    MainThread::drainForTesting();
    EXPECT_EQ(late->answers, 0);
}

}  // namespace
}  // namespace larkspin
