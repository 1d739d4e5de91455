#include "Updates/Desktop/SoupFeedFetcher.hpp"

#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <map>
#include <string>

#include "Platform/Async/MainThread.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"
#include "Updates/AppUpdater.hpp"
#include "Updates/FeedFixtures.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
using Kind = AppUpdater::CheckResult::Kind;

// A feed server on 127.0.0.1 at a free port: each path answers with a
// status, a body and headers; "/slow" never answers. Counts requests per path.
class FeedServer {
public:
    struct Reply {
        guint status = 200;
        std::string body;
        std::string location;
    };

    FeedServer() : server_(soup_server_new(nullptr, nullptr)) {
        soup_server_add_handler(server_, nullptr, handle, this, nullptr);
        GError* error = nullptr;
        EXPECT_TRUE(soup_server_listen_local(server_, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error));
        GSList* uris = soup_server_get_uris(server_);
        port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    ~FeedServer() {
        soup_server_disconnect(server_);
        g_object_unref(server_);
    }

    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    void serve(const std::string& path, Reply reply) { replies_[path] = std::move(reply); }
    int hits(const std::string& path) const {
        auto found = hits_.find(path);
        return found == hits_.end() ? 0 : found->second;
    }
    std::string lastUserAgent;

private:
    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*,
                       gpointer data) {
        auto* self = static_cast<FeedServer*>(data);
        ++self->hits_[path];
        const char* agent =
            soup_message_headers_get_one(soup_server_message_get_request_headers(message), "User-Agent");
        self->lastUserAgent = agent ? agent : "";
        if (std::string(path) == "/slow") {
            soup_server_message_pause(message);  // never answered
            return;
        }
        auto found = self->replies_.find(path);
        if (found == self->replies_.end()) {
            soup_server_message_set_status(message, 404, nullptr);
            return;
        }
        const Reply& reply = found->second;
        soup_server_message_set_status(message, reply.status, nullptr);
        if (!reply.location.empty()) {
            soup_message_headers_replace(soup_server_message_get_response_headers(message), "Location",
                                         reply.location.c_str());
        }
        soup_server_message_set_response(message, "application/rss+xml", SOUP_MEMORY_COPY,
                                         reply.body.data(), reply.body.size());
    }

    SoupServer* server_;
    guint port_ = 0;
    std::map<std::string, Reply> replies_;
    std::map<std::string, int> hits_;
};

struct Fixture {
    test::TempDir dir;
    UserDefaults defaults{dir / "prefs.json"};
    ManualClock clock;
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    FeedServer server;
    test::LogCapture log;
    std::vector<AppUpdater::CheckResult> shown;

    ~Fixture() { defaults.drainForTesting(); }

    // One user-initiated check of the feed at `path` through the libsoup fetcher.
    AppUpdater::CheckResult check(const std::string& path) {
        SoupFeedFetcher::Options options;
        options.userAgent = "Larkspin/1.0";
        options.clock = &clock;
        options.allowLoopbackHttpForTesting = true;
        AppUpdater::Configuration configuration;
        configuration.feedBase = server.base() + path;
        configuration.currentVersion = "1.0";
        configuration.os = "linux";
        configuration.arch = "x86_64";
        AppUpdater updater(configuration, std::make_shared<SoupFeedFetcher>(options), defaults, *center, clock);
        updater.setPresenter([this](const AppUpdater::CheckResult& result) { shown.push_back(result); });
        const std::size_t before = shown.size();
        updater.checkForUpdates();
        EXPECT_TRUE(test::runMainLoopUntil([&] { return shown.size() > before; }, 5000)) << path;
        return shown.size() > before ? shown.back() : AppUpdater::CheckResult{};
    }
};

std::string feedPath(const std::string& folder) { return folder + "/appcast-v1.xml"; }

TEST(SoupFeedFetcher, EachServerAnswerEndsInItsStateAndLogLine) {
    Fixture f;
    const std::string update = test::feedWith(test::feedItem("1.2.0", "1.2"));
    f.server.serve(feedPath("/update"), {200, update, ""});
    f.server.serve(feedPath("/current"), {200, test::feedWith(test::feedItem("1.0", "1.0")), ""});
    f.server.serve(feedPath("/error"), {500, "oops", ""});
    f.server.serve(feedPath("/malformed"), {200, "<rss><channel><item>", ""});
    f.server.serve(feedPath("/bomb"), {200, test::entityBombFeed(), ""});
    f.server.serve(feedPath("/xxe"),
                   {200, test::externalEntityFeed(f.server.base() + "/secret"), ""});
    f.server.serve(feedPath("/large"), {200, std::string(FeedFetcher::maximumBodySize + 1, 'x'), ""});
    f.server.serve(feedPath("/to-http"), {302, "", "http://updates.example.org/appcast-v1.xml"});
    f.server.serve(feedPath("/relative"), {301, "", "/update/appcast-v1.xml"});

    struct Case {
        const char* folder;
        Kind kind;
        const char* logLine;
    };
    const Case cases[] = {
        {"/update", Kind::updateAvailable, "found version 1.2.0"},
        {"/current", Kind::upToDate, "up to date at 1.0"},
        {"/missing", Kind::failed, "check failed: HTTP status 404"},
        {"/error", Kind::failed, "check failed: HTTP status 500"},
        {"/malformed", Kind::failed, "check failed: malformed XML"},
        {"/bomb", Kind::failed, "check failed: document type declaration refused"},
        {"/xxe", Kind::failed, "check failed: document type declaration refused"},
        {"/large", Kind::failed, "check failed: feed larger than 1048576 bytes"},
        {"/to-http", Kind::failed,
         "check failed: insecure address refused: http://updates.example.org/appcast-v1.xml"},
        {"/relative", Kind::updateAvailable, "found version 1.2.0"},
    };
    for (const auto& c : cases) {
        f.log.clear();
        const auto result = f.check(c.folder);
        EXPECT_EQ(result.kind, c.kind) << c.folder << ": " << result.reason;
        EXPECT_TRUE(f.log.contains("update", c.logLine)) << c.folder;
    }
    EXPECT_EQ(f.server.hits("/secret"), 0);
    EXPECT_EQ(f.server.lastUserAgent, "Larkspin/1.0");
}

TEST(SoupFeedFetcher, ASlowServerEndsAtTheTimeOut) {
    Fixture f;
    bool finished = false;
    AppUpdater::CheckResult result;
    SoupFeedFetcher::Options options;
    options.userAgent = "Larkspin/1.0";
    options.clock = &f.clock;
    options.allowLoopbackHttpForTesting = true;
    AppUpdater::Configuration configuration;
    configuration.feedBase = f.server.base() + "/never";
    configuration.currentVersion = "1.0";
    AppUpdater updater(configuration, std::make_shared<SoupFeedFetcher>(options), f.defaults, *f.center, f.clock);
    f.server.serve(feedPath("/never"), {302, "", f.server.base() + "/slow"});
    updater.setPresenter([&](const AppUpdater::CheckResult& r) {
        result = r;
        finished = true;
    });
    updater.checkForUpdates();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return f.server.hits("/slow") == 1; }, 5000));
    f.clock.advance(29s);
    MainThread::drainForTesting();
    EXPECT_FALSE(finished);
    f.clock.advance(1s);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return finished; }, 5000));
    EXPECT_EQ(result.kind, Kind::failed);
    EXPECT_TRUE(f.log.contains("update", "check failed: timed out"));
}

TEST(SoupFeedFetcher, OnlyHttpsOrLoopbackHttpForTestsMayBeRequested) {
    struct Case {
        const char* url;
        bool loopbackAllowed;
        bool expected;
    };
    const Case cases[] = {
        {"https://larkspin.corvantel.dev/updates/appcast-v1.xml", false, true},
        {"HTTPS://example.org/x", false, true},
        {"http://example.org/x", false, false},
        {"http://example.org/x", true, false},
        {"http://127.0.0.1:8080/x", false, false},
        {"http://127.0.0.1:8080/x", true, true},
        {"ftp://example.org/x", true, false},
        {"file:///etc/passwd", true, false},
        {"not a url", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SoupFeedFetcher::isAllowed(c.url, c.loopbackAllowed), c.expected) << c.url;
    }
}

}  // namespace
}  // namespace larkspin
