#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/RendererDirectory.hpp"
#include "Protocol/Schemes/ResourceURL.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Protocol/SchemeTestSupport.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;
using Rule = AppResourceSchemeHandler::PathRejection::Rule;
using test::FakeSchemeTask;

TEST(ResourceURL, SplitsWithoutDecoding) {
    const auto url = ResourceURL::parse("App-Resource://user@Renderer:8080/a%20b/c.js?x=1&y#top");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, "app-resource");
    EXPECT_EQ(url->host, "Renderer");
    EXPECT_EQ(url->path, "/a%20b/c.js");
    EXPECT_EQ(url->query, "x=1&y");
    EXPECT_EQ(url->fragment, "top");

    EXPECT_EQ(ResourceURL::parse("no scheme here"), std::nullopt);
    EXPECT_EQ(ResourceURL::parse("1x://a/b"), std::nullopt);
    EXPECT_EQ(ResourceURL::parse("x:/path")->host, std::nullopt);
    EXPECT_EQ(ResourceURL::parse("x://")->host, "");
    EXPECT_EQ(ResourceURL::parse("x://[::1]:9/p")->host, "::1");
    EXPECT_EQ(ResourceURL::parse("x://h:port/p"), std::nullopt);
    EXPECT_EQ(ResourceURL::parse(std::string_view("x://h/a\0b", 10)), std::nullopt);
    EXPECT_EQ(ResourceURL::parse("x://h/a|b?q=^|#f")->query, "q=^|");
}

TEST(ResourceURL, FirstQueryValueDecodesAndTakesTheFirst) {
    const auto value = [](std::string_view text, std::string_view name = "path") {
        return ResourceURL::parse(text)->firstQueryValue(name);
    };
    EXPECT_EQ(value("x://h/?path=a%2Bb+c.png"), "a+b+c.png");  // "+" stays "+"
    EXPECT_EQ(value("x://h/?pa%74h=one&path=two"), "one");
    EXPECT_EQ(value("x://h/?path&path=two"), std::nullopt);  // the first has no value
    EXPECT_EQ(value("x://h/?path=%E4%B8%AD.png"), "\xE4\xB8\xAD.png");
    EXPECT_EQ(value("x://h/?path=%FF.png"), std::nullopt);  // not UTF-8
    EXPECT_EQ(value("x://h/?path=a%00.png"), std::string("a\0.png", 6));
    EXPECT_EQ(value("x://h/?Path=a.png"), std::nullopt);
    EXPECT_EQ(value("x://h/"), std::nullopt);
}

struct PathCase {
    const char* url;
    std::variant<std::string, Rule> expected;
    const char* argument = "";  // of the rejection's log line
};

TEST(AppResourceSchemeHandler, PathCheckTable) {
    const PathCase cases[] = {
        {"app-resource://renderer/index.html", "index.html"},
        {"app-resource://renderer/index.html?q=1#frag", "index.html"},
        {"APP-RESOURCE://RENDERER/index.html", "index.html"},
        {"app-resource://renderer/js/a%20b.js", "js/a b.js"},
        {"app-resource://renderer/js%2Fapp.js", "js/app.js"},
        {"app-resource://other/index.html", Rule::schemeOrHost, "app-resource://other/index.html"},
        {"document-resource://renderer/x.js", Rule::schemeOrHost,
         "document-resource://renderer/x.js"},
        {"app-resource:/index.html", Rule::schemeOrHost, "app-resource:/index.html"},
        {"not a url", Rule::schemeOrHost, "not a url"},
        {"app-resource://renderer", Rule::undecodable, ""},
        {"app-resource://renderer?x", Rule::undecodable, ""},
        {"app-resource://renderer/%zz.js", Rule::undecodable, "/%zz.js"},
        {"app-resource://renderer/%C3.js", Rule::undecodable, "/%C3.js"},
        {"app-resource://renderer/", Rule::illegalSegment, "/"},
        {"app-resource://renderer//index.html", Rule::illegalSegment, "//index.html"},
        {"app-resource://renderer/js//a.js", Rule::illegalSegment, "/js//a.js"},
        {"app-resource://renderer/%2e%2e/secret.js", Rule::illegalSegment, "/../secret.js"},
        {"app-resource://renderer/js/a..b.js", Rule::illegalSegment, "/js/a..b.js"},
        {"app-resource://renderer/a%5Cb.js", Rule::illegalSegment, "/a\\b.js"},
        {"app-resource://renderer/%2Findex.html", Rule::illegalSegment, "//index.html"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const auto result = AppResourceSchemeHandler::relativePath(c.url);
        if (const auto* path = std::get_if<std::string>(&c.expected)) {
            ASSERT_TRUE(std::holds_alternative<std::string>(result));
            EXPECT_EQ(std::get<std::string>(result), *path);
        } else {
            ASSERT_TRUE(std::holds_alternative<AppResourceSchemeHandler::PathRejection>(result));
            const auto& rejection = std::get<AppResourceSchemeHandler::PathRejection>(result);
            EXPECT_EQ(rejection.rule, std::get<Rule>(c.expected));
            EXPECT_EQ(rejection.argument, c.argument);
        }
    }
    // A NUL, also percent-encoded, is an illegal segment.
    const auto nul = AppResourceSchemeHandler::relativePath("app-resource://renderer/a%00.js");
    ASSERT_TRUE(std::holds_alternative<AppResourceSchemeHandler::PathRejection>(nul));
    EXPECT_EQ(std::get<AppResourceSchemeHandler::PathRejection>(nul).rule, Rule::illegalSegment);
}

TEST(AppResourceSchemeHandler, NormalizedPathKeepsTheRoot) {
    EXPECT_EQ(AppResourceSchemeHandler::normalizedPath("/a/b//"), "/a/b");
    EXPECT_EQ(AppResourceSchemeHandler::normalizedPath("/"), "/");
}

// A renderer directory with files of every kind the manifest must sort out.
class RendererRoot : public ::testing::Test {
protected:
    void SetUp() override {
        root = dir.path() / "dist";
        dir.write("dist/index.html", "<!doctype html>");
        dir.write("dist/js/app.js", "console.log(1)");
        dir.write("dist/img/Logo.PNG", "png");
        dir.write("dist/fonts/f.woff2", "woff");
        dir.write("dist/empty.css", "");
        dir.write("dist/notes.txt", "text");
        dir.write("dist/js/app.js.map", "{}");
        dir.write("dist/noext", "x");
        dir.write("dist/.hidden.js", "x");
        dir.write("dist/.cache/inside.js", "x");
        dir.write("outside.js", "secret");
        fs::create_symlink(root / "js/app.js", root / "link.js");
        fs::create_symlink(dir.path(), root / "up");  // a link to a directory is not entered
    }

    // A handler whose manifest has been taken (on manual workers, by running
    // the walk, the only job queued).
    std::shared_ptr<AppResourceSchemeHandler> make(std::shared_ptr<ResourceWorkers> workers) {
        auto manual = std::dynamic_pointer_cast<test::ManualWorkers>(workers);
        auto handler = AppResourceSchemeHandler::create(root, std::move(workers));
        if (manual) {
            EXPECT_TRUE(test::runMainLoopUntil([&] { return manual->pending() == 1; }));
            manual->runAll();
        }
        EXPECT_TRUE(test::runMainLoopUntil([&] { return handler->hasManifest(); }));
        return handler;
    }

    test::TempDir dir;
    fs::path root;
};

TEST_F(RendererRoot, ManifestHoldsOnlyServableFiles) {
    test::LogCapture logs;
    const auto handler = make(std::make_shared<test::ManualWorkers>());
    const std::set<std::string> expected{"empty.css", "fonts/f.woff2", "img/Logo.PNG", "index.html",
                                         "js/app.js"};
    EXPECT_EQ(handler->manifest(), expected);
    EXPECT_TRUE(logs.contains("resources", "资源清单就绪：5 个文件，根目录"));
    EXPECT_TRUE(AppResourceSchemeHandler::enumerateManifest(dir.path() / "missing").empty());
}

TEST_F(RendererRoot, RequestPathsAreCheckedAgainstTheManifest) {
    test::LogCapture logs;
    AppLog::setRevealPrivateForTesting(true);
    const auto handler = make(std::make_shared<test::ManualWorkers>());
    EXPECT_EQ(handler->listedPath("app-resource://renderer/js/app.js"), "js/app.js");
    EXPECT_EQ(handler->listedPath("app-resource://renderer/Index.html"), std::nullopt);
    EXPECT_TRUE(logs.contains("resources", "拒绝：不在清单 Index.html"));
    EXPECT_EQ(handler->listedPath("app-resource://renderer/link.js"), std::nullopt);
    EXPECT_EQ(handler->listedPath("app-resource://renderer//x"), std::nullopt);
    EXPECT_TRUE(logs.contains("resources", "拒绝：路径含非法片段 //x"));
    EXPECT_EQ(handler->listedPath("app-resource://renderer"), std::nullopt);
    EXPECT_TRUE(logs.contains("resources", "拒绝：路径无法解码 "));
    EXPECT_EQ(handler->listedPath("app-resource://x/index.html"), std::nullopt);
    EXPECT_TRUE(
        logs.contains("resources", "拒绝：scheme 或 host 不符 app-resource://x/index.html"));
    AppLog::setRevealPrivateForTesting(std::nullopt);
}

// Where a listed file leads is looked at by the worker that reads it, so a
// link put in place after the manifest was taken still cannot lead out.
TEST_F(RendererRoot, AFileThatNowLeadsOutOfTheRootIsRefusedAtTheRead) {
    test::LogCapture logs;
    AppLog::setRevealPrivateForTesting(true);
    auto workers = std::make_shared<test::ManualWorkers>();
    const auto handler = make(workers);
    EXPECT_EQ(AppResourceSchemeHandler::resolvedInside(handler->rootPath(), "js/app.js"),
              fs::canonical(root / "js/app.js"));

    fs::remove(root / "js/app.js");
    fs::create_symlink(dir.path() / "outside.js", root / "js/app.js");
    EXPECT_EQ(AppResourceSchemeHandler::resolvedInside(handler->rootPath(), "up/outside.js"),
              std::nullopt);

    auto escaping = std::make_shared<FakeSchemeTask>("app-resource://renderer/js/app.js");
    handler->start(escaping);
    EXPECT_EQ(escaping->answers, 0);  // nothing is resolved before the worker runs
    ASSERT_TRUE(test::runMainLoopUntil([&] { return workers->pending() == 1; }));
    workers->runAll();
    MainThread::drainForTesting();
    EXPECT_EQ(escaping->failure, SchemeFailure::fileDoesNotExist());
    EXPECT_FALSE(escaping->response);
    EXPECT_TRUE(logs.contains("resources", "拒绝：解析后越出根目录 js/app.js"));
    AppLog::setRevealPrivateForTesting(std::nullopt);
}

TEST_F(RendererRoot, ServesFilesWithTheirHeaders) {
    const auto handler = make(std::make_shared<PooledResourceWorkers>("test", 2));
    auto page = std::make_shared<FakeSchemeTask>("app-resource://renderer/index.html?x#y");
    auto empty = std::make_shared<FakeSchemeTask>("app-resource://renderer/empty.css");
    auto logo = std::make_shared<FakeSchemeTask>("app-resource://renderer/img/Logo.PNG");
    for (const auto& task : {page, empty, logo}) handler->start(task);
    ASSERT_TRUE(
        test::runMainLoopUntil([&] { return page->answers && empty->answers && logo->answers; }));

    ASSERT_TRUE(page->response);
    EXPECT_EQ(page->answers, 1);
    EXPECT_EQ(page->response->status, 200);
    EXPECT_EQ(page->response->body, "<!doctype html>");
    const std::vector<std::pair<std::string, std::string>> headers{
        {"Content-Type", "text/html; charset=utf-8"},
        {"Content-Length", "15"},
        {"Cache-Control", "no-store"},
        {"Content-Security-Policy",
         "default-src 'none'; script-src app-resource://renderer; style-src "
         "app-resource://renderer 'unsafe-inline'; img-src app-resource: document-resource: "
         "https: http:; font-src app-resource://renderer; connect-src 'none'; frame-src 'none'; "
         "object-src 'none'; base-uri 'none'; form-action 'none'"},
    };
    EXPECT_EQ(page->response->headers, headers);
    EXPECT_EQ(empty->header("Content-Length"), "0");
    EXPECT_EQ(logo->response->contentType, "image/png");
}

// The diagram host page draws what a document's diagrams say: under its
// policy it loads nothing from outside the renderer, whichever way its
// address is written, while the reading page keeps its remote images.
TEST_F(RendererRoot, DiagramHostPageIsServedWithAPolicyThatAllowsNoRemoteLoads) {
    dir.write("dist/diagram-host.html", "<!doctype html>");
    const auto handler = make(std::make_shared<PooledResourceWorkers>("test", 2));
    auto host = std::make_shared<FakeSchemeTask>("app-resource://renderer/diagram-host.html");
    auto spelled = std::make_shared<FakeSchemeTask>("APP-RESOURCE://Renderer/diagram%2Dhost.html?x#y");
    auto page = std::make_shared<FakeSchemeTask>("app-resource://renderer/index.html");
    for (const auto& task : {host, spelled, page}) handler->start(task);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return host->answers && spelled->answers && page->answers; }));

    const auto policy = host->header("Content-Security-Policy");
    ASSERT_TRUE(policy);
    EXPECT_EQ(spelled->header("Content-Security-Policy"), policy);
    EXPECT_EQ(page->header("Content-Security-Policy"), AppResourceSchemeHandler::contentSecurityPolicy);

    // Every source is the renderer itself or a keyword; nothing falls back on
    // a default that allows more.
    std::istringstream words(*policy);
    std::set<std::string> sources;
    for (std::string word; words >> word;) {
        if (!word.ends_with("-src") && !word.ends_with("-uri") && word != "form-action") sources.insert(word);
    }
    const std::set<std::string> allowed{"'none';", "'none'", "app-resource://renderer",
                                        "app-resource://renderer;", "'unsafe-inline';"};
    for (const auto& source : sources) EXPECT_TRUE(allowed.contains(source)) << source;
    for (const char* directive : {"default-src 'none';", "connect-src 'none';", "img-src app-resource://renderer;"}) {
        EXPECT_NE(policy->find(directive), std::string::npos) << directive;
    }
}

TEST_F(RendererRoot, RefusalsAndReadErrorsFail) {
    test::LogCapture logs;
    const auto handler = make(std::make_shared<PooledResourceWorkers>("test", 1));
    auto refused = std::make_shared<FakeSchemeTask>("app-resource://renderer/notes.txt");
    handler->start(refused);
    EXPECT_EQ(refused->failure, SchemeFailure::fileDoesNotExist());  // at once

    auto noURL = std::make_shared<FakeSchemeTask>(std::nullopt);
    handler->start(noURL);
    EXPECT_EQ(noURL->failure, SchemeFailure::fileDoesNotExist());

    fs::remove(root / "index.html");  // removed after the manifest: fails at the read
    auto removed = std::make_shared<FakeSchemeTask>("app-resource://renderer/index.html");
    handler->start(removed);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return removed->answers > 0; }));
    EXPECT_EQ(removed->failure, SchemeFailure::readError(ENOENT));
}

TEST_F(RendererRoot, LateResultsAreDropped) {
    auto workers = std::make_shared<test::ManualWorkers>();
    const auto handler = make(workers);
    auto stopped = std::make_shared<FakeSchemeTask>("app-resource://renderer/js/app.js");
    auto restarted = std::make_shared<FakeSchemeTask>("app-resource://renderer/index.html");
    handler->start(stopped);
    handler->start(restarted);
    test::runMainLoopUntil([&] { return workers->pending() == 2; });
    handler->stop(*stopped);
    handler->start(restarted);  // a newer start under the same identity
    test::runMainLoopUntil([&] { return workers->pending() == 3; });
    workers->runAll();
    MainThread::drainForTesting();
    EXPECT_EQ(stopped->answers, 0);
    EXPECT_EQ(restarted->answers, 1);  // only the newer read was delivered

    // A handler that is gone before its read ends delivers nothing.
    auto orphan = std::make_shared<FakeSchemeTask>("app-resource://renderer/index.html");
    auto other = make(workers);
    other->start(orphan);
    test::runMainLoopUntil([&] { return workers->pending() == 1; });
    other.reset();
    workers->runAll();
    MainThread::drainForTesting();
    EXPECT_EQ(orphan->answers, 0);
}

// The manifest is walked on the workers, not where the handler is made; a
// request that comes first waits for it, then is served or refused by it.
TEST_F(RendererRoot, RequestsBeforeTheManifestWaitForIt) {
    auto workers = std::make_shared<test::ManualWorkers>();
    const auto handler = AppResourceSchemeHandler::create(root, workers);
    auto sibling = handler->sibling();
    EXPECT_FALSE(handler->hasManifest());
    EXPECT_TRUE(handler->manifest().empty());

    auto page = std::make_shared<FakeSchemeTask>("app-resource://renderer/index.html");
    auto unlisted = std::make_shared<FakeSchemeTask>("app-resource://renderer/notes.txt");
    auto stopped = std::make_shared<FakeSchemeTask>("app-resource://renderer/js/app.js");
    auto fromSibling = std::make_shared<FakeSchemeTask>("app-resource://renderer/empty.css");
    for (const auto& task : {page, unlisted, stopped}) handler->start(task);
    sibling->start(fromSibling);
    handler->stop(*stopped);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return workers->pending() == 1; }));
    MainThread::drainForTesting();
    EXPECT_EQ(workers->pending(), 1U) << "only the walk: no read before the manifest";
    EXPECT_EQ(page->answers + unlisted->answers + fromSibling->answers, 0);

    workers->runAll();  // the walk
    ASSERT_TRUE(test::runMainLoopUntil([&] { return workers->pending() == 3; }));
    EXPECT_TRUE(handler->hasManifest() && sibling->hasManifest());
    EXPECT_EQ(sibling->manifest().size(), 5U);
    EXPECT_EQ(unlisted->failure, SchemeFailure::fileDoesNotExist());
    workers->runAll();  // the reads
    ASSERT_TRUE(test::runMainLoopUntil([&] { return page->answers && fromSibling->answers; }));
    ASSERT_TRUE(page->response);
    EXPECT_EQ(page->response->body, "<!doctype html>");
    ASSERT_TRUE(fromSibling->response);
    EXPECT_EQ(stopped->answers, 0);
}

TEST(RendererDirectory, LooksAtOverrideThenInstallThenBuildTree) {
    const auto list = RendererDirectory::candidates("/custom/dist", "/src/b/tests/x/larkspin");
    const std::vector<fs::path> expected{"/custom/dist",
                                         "/src/b/tests/share/larkspin/dist",
                                         "/src/b/tests/x/renderer/dist",
                                         "/src/b/tests/renderer/dist",
                                         "/src/b/renderer/dist",
                                         "/src/renderer/dist",
                                         "/renderer/dist"};
    EXPECT_EQ(list, expected);
    EXPECT_EQ(RendererDirectory::candidates("", "/larkspin").front(), "/share/larkspin/dist");
    EXPECT_TRUE(RendererDirectory::candidates(std::nullopt, "").empty());
}

TEST(RendererDirectory, OverrideFromTheEnvironment) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "dist");
    dir.write("dist/index.html", "x");
    const char* previous = ::getenv(RendererDirectory::overrideVariable);
    const std::optional<std::string> saved =
        previous ? std::optional<std::string>(previous) : std::nullopt;
    ::setenv(RendererDirectory::overrideVariable, (dir.path() / "dist").c_str(), 1);
    EXPECT_EQ(RendererDirectory::locate(), dir.path() / "dist");
    const auto handler = AppResourceSchemeHandler::createForRenderer(std::make_shared<PooledResourceWorkers>("test", 1));
    ASSERT_TRUE(handler);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return handler->hasManifest(); }));
    EXPECT_EQ(handler->manifest(), std::set<std::string>{"index.html"});
    if (saved) {
        ::setenv(RendererDirectory::overrideVariable, saved->c_str(), 1);
    } else {
        ::unsetenv(RendererDirectory::overrideVariable);
    }
}

}  // namespace
}  // namespace larkspin
