#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "Protocol/Navigation/NavigationPolicy.hpp"
#include "Protocol/ReaderTestSupport.hpp"

namespace larkspin {
namespace {

using namespace NavigationPolicy;
using Kind = OpenLinkPayload::Kind;

LinkAction external(std::string url) {
    return LinkAction::openExternal(std::move(url));
}
LinkAction markdown(std::string path, std::optional<std::string> fragment = std::nullopt) {
    return LinkAction::openMarkdown(std::move(path), std::move(fragment));
}
LinkAction other(std::string path) {
    return LinkAction::confirmOpenOther(std::move(path));
}
LinkAction scroll(std::string id) {
    return LinkAction::scrollToFragment(std::move(id));
}
LinkAction unsupported(std::string scheme) {
    return LinkAction::reject(Rejection::unsupportedScheme(std::move(scheme)));
}
const LinkAction invalid = LinkAction::reject(Rejection::invalidURL());
const LinkAction noDirectory = LinkAction::reject(Rejection::noDocumentDirectory());
const LinkAction emptyFragment = LinkAction::reject(Rejection::emptyFragment());

struct LinkCase {
    Kind kind;
    std::string href;
    LinkAction expected;
};

void expectResolutions(const std::vector<LinkCase>& cases,
                       const std::optional<std::filesystem::path>& document) {
    for (const auto& c : cases) {
        const OpenLinkPayload link{c.href, c.kind, {true, true, true}};
        EXPECT_EQ(resolve(link, document), c.expected)
            << "href \"" << c.href << "\" kind " << rawValue(c.kind);
    }
}

TEST(NavigationPolicy, ExternalLinks) {
    expectResolutions(
        {
            {Kind::external, "  https://example.com/a?b=1#c \n",
             external("https://example.com/a?b=1#c")},
            {Kind::external, "HTTPS://Example.com", external("HTTPS://Example.com")},
            {Kind::external, "http://例子.测试/路径", external("http://例子.测试/路径")},
            {Kind::external, "\xE3\x80\x80https://example.com\xC2\xA0",
             external("https://example.com")},
            {Kind::external, "mailto:someone@example.com", external("mailto:someone@example.com")},
            {Kind::external, "mailto:", external("mailto:")},
            {Kind::external, "ftp://example.com/f", unsupported("ftp")},
            {Kind::external, "javascript:alert(1)", unsupported("javascript")},
            {Kind::external, "JavaScript:void(0)", unsupported("javascript")},
            {Kind::external, "file:///etc/passwd", unsupported("file")},
            {Kind::external, "https:///path", invalid},
            {Kind::external, "https:example.com", invalid},
            {Kind::external, "https://user@:443/", invalid},
            {Kind::external, "https://exa mple.com", invalid},
            {Kind::external, "https://example.com/%zz", external("https://example.com/%25zz")},
            {Kind::external, "https://example.com/a#b#c", invalid},
            {Kind::external, "https://example.com:port/", invalid},
            {Kind::external, "www.example.com", invalid},
            {Kind::external, "", invalid},
            {Kind::external, "1http://x", invalid},
        },
        "/d/x.md");
}

// Markdown link destinations may hold characters a URL cannot; they are
// encoded as CommonMark renderers encode them before the link is parsed.
TEST(NavigationPolicy, DestinationsAreEncodedBeforeParsing) {
    expectResolutions(
        {
            {Kind::external, "https://example.com/search?filter[name]=x",
             external("https://example.com/search?filter%5Bname%5D=x")},
            {Kind::external, "https://example.com/a|b", external("https://example.com/a%7Cb")},
            {Kind::external, " https://example.com/a b ", external("https://example.com/a%20b")},
            {Kind::external, "https://example.com?find=\\*",
             external("https://example.com?find=%5C*")},
            {Kind::external, "https://example.com/{x}^`\"<>\t\x7F",
             external("https://example.com/%7Bx%7D%5E%60%22%3C%3E%09%7F")},
            {Kind::external, "https://example.com/#list[1]",
             external("https://example.com/#list%5B1%5D")},
            // Valid escapes (in either letter case) stay; a stray "%" is encoded.
            {Kind::external, "https://example.com/a%20b%7c?q=%E4%B8%AD",
             external("https://example.com/a%20b%7c?q=%E4%B8%AD")},
            {Kind::external, "https://example.com/100%", external("https://example.com/100%25")},
            {Kind::external, "https://example.com/%4g", external("https://example.com/%254g")},
            // Non-ASCII text, the scheme and an address literal stay as written.
            {Kind::external, "HTTPS://例子.测试/路径 一", external("HTTPS://例子.测试/路径%20一")},
            {Kind::external, "http://[::1]:8080/a[b]", external("http://[::1]:8080/a%5Bb%5D")},
            {Kind::external, "mailto:a b@example.com?subject=[x]",
             external("mailto:a%20b@example.com?subject=%5Bx%5D")},
            // What encoding cannot mend is refused, for the reason that holds.
            {Kind::external, "https://exa|mple.com/", invalid},
            {Kind::external, "https://example.com\\evil.com/", invalid},
            {Kind::external, "https://[::1/a", invalid},
            {Kind::external, "https://example.com/a#b#c", invalid},
            {Kind::external, "ftp://example.com/a b", unsupported("ftp")},
            {Kind::external, "JavaScript:alert('[x]')", unsupported("javascript")},
            // A relative link that names a scheme resolves as what it names.
            {Kind::relative, "https://example.com?find=\\*",
             external("https://example.com?find=%5C*")},
            {Kind::relative, "https://example.com/a|b", external("https://example.com/a%7Cb")},
            {Kind::relative, "file:///tmp/a b.md", markdown("/tmp/a b.md")},
            {Kind::relative, "ftp://example.com/a b", unsupported("ftp")},
            {Kind::relative, "https%3A//example.com/a.md", unsupported("https")},
            // Paths keep spaces and brackets as written.
            {Kind::relative, "my file.md#Part Two", markdown("/d/my file.md", "Part Two")},
            {Kind::relative, "sub dir/notes[1].md", markdown("/d/sub dir/notes[1].md")},
            {Kind::file, "file:///tmp/a b|c.md#x y", markdown("/tmp/a b|c.md", "x y")},
            {Kind::file, "file:///tmp/notes[1].md", markdown("/tmp/notes[1].md")},
            {Kind::file, "file:///tmp/a\\b.md", invalid},
            {Kind::file, "file://local host/a.md", invalid},
            {Kind::file, "/tmp/my file.md", markdown("/tmp/my file.md")},
        },
        "/d/x.md");
}

TEST(NavigationPolicy, FragmentLinks) {
    expectResolutions(
        {
            {Kind::fragment, "#intro", scroll("intro")},
            {Kind::fragment, "#%E4%B8%AD", scroll("中")},
            {Kind::fragment, "#%zz", scroll("%zz")},
            {Kind::fragment, "#%FF", scroll("%FF")},  // not UTF-8 once decoded: kept as written
            {Kind::fragment, "#a#b", scroll("a#b")},
            {Kind::fragment, "#", emptyFragment},
            {Kind::fragment, "intro", emptyFragment},
            {Kind::fragment, "", emptyFragment},
        },
        std::nullopt);
}

TEST(NavigationPolicy, RelativeLinksResolveAgainstTheDocumentsFolder) {
    expectResolutions(
        {
            {Kind::relative, "other.md#Part%20Two", markdown("/d/other.md", "Part Two")},
            {Kind::relative, "./a/../b.MD", markdown("/d/b.MD")},
            {Kind::relative, "notes.markdown#", markdown("/d/notes.markdown")},
            {Kind::relative, "../../etc/notes.md", markdown("/etc/notes.md")},
            {Kind::relative, "../../../../x.md", markdown("/x.md")},
            {Kind::relative, "img.png", other("/d/img.png")},
            {Kind::relative, "sub/", other("/d/sub")},
            {Kind::relative, "sub//deeper/./page.md", markdown("/d/sub/deeper/page.md")},
            {Kind::relative, "a%2Fb.md", markdown("/d/a/b.md")},
            {Kind::relative, "%E6%96%87%E6%A1%A3.md", markdown("/d/文档.md")},
            {Kind::relative, "a.md#x?y", markdown("/d/a.md", "x?y")},
            {Kind::relative, "a.md?raw=1", markdown("/d/a.md")},
            {Kind::relative, "run.sh", other("/d/run.sh")},
            {Kind::relative, "app.desktop", other("/d/app.desktop")},
            {Kind::relative, ".md", other("/d/.md")},
            {Kind::relative, "#only-here", scroll("only-here")},
            {Kind::relative, "/abs/./p.md", markdown("/abs/p.md")},
            {Kind::relative, "/", other("/")},
            {Kind::relative, "//server/share.md", markdown("/server/share.md")},
            {Kind::relative, "./", invalid},
            {Kind::relative, ".", invalid},
            {Kind::relative, "", invalid},
            {Kind::relative, "#", invalid},
            {Kind::relative, "?q", invalid},
            {Kind::relative, "%", invalid},
            {Kind::relative, "%C3%28.md", invalid},
            {Kind::relative, "a\\b.md", invalid},
            {Kind::relative, "a%00.md", invalid},
            {Kind::relative, "a%5Cb.md", invalid},
            {Kind::relative, "mailto:x", external("mailto:x")},
            {Kind::relative, "HTTP://example.com", external("HTTP://example.com")},
            {Kind::relative, "c:notes.md", unsupported("c")},
        },
        "/d/x.md");
}

TEST(NavigationPolicy, RelativeLinksNeedASavedDocument) {
    for (const std::optional<std::filesystem::path>& document :
         {std::optional<std::filesystem::path>(),
          std::optional<std::filesystem::path>("relative/x.md")}) {
        expectResolutions(
            {
                {Kind::relative, "other.md", noDirectory},
                {Kind::relative, "#h", scroll("h")},
                {Kind::relative, "/abs.md", markdown("/abs.md")},
                {Kind::relative, "./", invalid},
            },
            document);
    }
    // The document's own path is standardised before its folder is taken.
    expectResolutions({{Kind::relative, "b.md", markdown("/d/b.md")}}, "/d/./sub/../x.md");
}

TEST(NavigationPolicy, FileLinks) {
    expectResolutions(
        {
            {Kind::file, "file:///tmp/a.md#h", markdown("/tmp/a.md", "h")},
            {Kind::file, " file://localhost/tmp/a.md ", markdown("/tmp/a.md")},
            {Kind::file, "FILE://LOCALHOST/tmp/b.markdown", markdown("/tmp/b.markdown")},
            {Kind::file, "file:/tmp/a.md", markdown("/tmp/a.md")},
            {Kind::file, "file:///tmp/a%20b.md?x=1", markdown("/tmp/a b.md")},
            {Kind::file, "file:///tmp/%2541.md", markdown("/tmp/A.md")},  // decoded twice
            {Kind::file, "file:///tmp/../etc/x.pdf", other("/etc/x.pdf")},
            {Kind::file, "file:///usr/bin/env", other("/usr/bin/env")},
            {Kind::file, "/tmp/a.md?raw", markdown("/tmp/a.md")},
            {Kind::file, "/tmp/a.md#%E4%B8%AD", markdown("/tmp/a.md", "中")},
            {Kind::file, "file://server/share/a.md", invalid},
            {Kind::file, "file://user@localhost/a.md", invalid},
            {Kind::file, "file://localhost:80/a.md", invalid},
            {Kind::file, "file:tmp/a.md", invalid},
            {Kind::file, "file://localhost", invalid},
            {Kind::file, "file:///tmp/%zz.md", invalid},
            {Kind::file, "file:///tmp/%2500.md", invalid},
            {Kind::file, "filex:///tmp/a.md", invalid},
            {Kind::file, "tmp/a.md", invalid},
            {Kind::file, "/tmp/a%00.md", invalid},
            {Kind::file, "/tmp\\a.md", invalid},
            {Kind::file, "", invalid},
        },
        std::nullopt);
}

TEST(NavigationPolicy, FragmentIDs) {
    EXPECT_EQ(fragmentID("no hash"), std::nullopt);
    EXPECT_EQ(fragmentID("a#"), "");
    EXPECT_EQ(fragmentID("a#b%20c#d"), "b c#d");
    EXPECT_EQ(fragmentID("#a+b"), "a+b");
    EXPECT_EQ(fragmentID("#%"), "%");
}

TEST(NavigationPolicy, RejectionsDescribeThemselvesForTheUser) {
    EXPECT_EQ(Rejection::unsupportedScheme("ftp").description(), "不支持的协议 ftp:");
    EXPECT_EQ(Rejection::invalidURL().description(), "链接不是合法地址");
    EXPECT_EQ(Rejection::noDocumentDirectory().description(),
              "当前文档尚未保存到磁盘，无法解析相对链接");
    EXPECT_EQ(Rejection::emptyFragment().description(), "片段为空");
}

TEST(NavigationPolicy, OnlyTheMainFrameLoadingTheEntryPageMayNavigate) {
    const std::string entry = "app-resource://renderer/index.html";
    const auto allow = NavigationDecision::allow();
    const auto cancel = [](std::string reason) {
        return NavigationDecision::cancel(std::move(reason));
    };
    using T = NavigationType;
    const struct {
        std::optional<std::string> url;
        bool isMainFrame;
        bool hasTargetFrame;
        NavigationType type;
        NavigationDecision expected;
    } cases[] = {
        {entry, true, true, T::other, allow},
        {entry, true, true, T::reload, allow},
        {"APP-RESOURCE://Renderer/index.html", true, true, T::other, allow},
        {"app-resource://renderer/index%2Ehtml", true, true, T::other, allow},
        {std::nullopt, true, true, T::other, cancel("没有 URL")},
        {std::nullopt, false, false, static_cast<T>(42), cancel("没有 URL")},
        {"", true, true, T::other, cancel("没有 URL")},
        {entry, false, false, T::other, cancel("新窗口 / target=_blank")},
        {entry, false, true, T::other, cancel("子框架")},
        {entry, true, true, T::linkActivated, cancel("导航类型 0")},
        {entry, true, true, T::formSubmitted, cancel("导航类型 1")},
        {entry, true, true, T::backForward, cancel("导航类型 2")},
        {entry, true, true, T::formResubmitted, cancel("导航类型 4")},
        {entry, true, true, static_cast<T>(5), cancel("未知导航类型 5")},
        {entry, true, true, static_cast<T>(-2), cancel("未知导航类型 -2")},
        {entry + "?x=1", true, true, T::other, cancel("不是入口页：" + entry + "?x=1")},
        {entry + "?", true, true, T::other, cancel("不是入口页：" + entry + "?")},
        {entry + "#top", true, true, T::reload, cancel("不是入口页：" + entry + "#top")},
        {"app-resource://renderer/Index.html", true, true, T::other,
         cancel("不是入口页：app-resource://renderer/Index.html")},
        {"app-resource://renderer/diagram-host.html", true, true, T::other,
         cancel("不是入口页：app-resource://renderer/diagram-host.html")},
        {"app-resource://renderer:1/index.html", true, true, T::other,
         cancel("不是入口页：app-resource://renderer:1/index.html")},
        {"app-resource://evil/index.html", true, true, T::other,
         cancel("不是入口页：app-resource://evil/index.html")},
        {"app-resource:/index.html", true, true, T::other,
         cancel("不是入口页：app-resource:/index.html")},
        {"https://renderer/index.html", true, true, T::other,
         cancel("不是入口页：https://renderer/index.html")},
        {"about:blank", true, true, T::other, cancel("不是入口页：about:blank")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decideNavigation(c.url, c.isMainFrame, c.hasTargetFrame, c.type), c.expected)
            << c.url.value_or("<none>") << " type " << static_cast<int>(c.type);
    }
}

}  // namespace
}  // namespace larkspin
