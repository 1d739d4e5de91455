#include "Updates/Desktop/SoupFeedFetcher.hpp"

#include <libsoup/soup.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "Platform/Async/MainThread.hpp"

namespace larkspin {

namespace {

constexpr int maximumRedirects = 5;
constexpr gsize readChunk = 64 * 1024;

bool isLoopbackHost(const char* host) {
    return host && (g_strcmp0(host, "127.0.0.1") == 0 || g_strcmp0(host, "::1") == 0 ||
                    g_ascii_strcasecmp(host, "localhost") == 0);
}

}  // namespace

// One fetch: its message, the stream it reads and the body so far. Each
// callback holds it; the first result resolves the completion.
struct SoupFeedFetcher::Operation {
    GObjectPtr<SoupSession> session;
    GObjectPtr<GCancellable> cancellable = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
    GObjectPtr<SoupMessage> message;
    GObjectPtr<GInputStream> stream;
    std::optional<Completion<FetchResult>> done;
    std::string body;
    bool allowLoopbackHttp = false;
    bool timedOut = false;
    int redirects = 0;

    using Holder = std::shared_ptr<Operation>;

    void finish(FetchResult result) {
        if (!done) return;
        auto completion = std::move(*done);
        done.reset();
        stream = {};
        completion.resolve(std::move(result));
    }

    void fail(FetchResult::Outcome outcome, std::string message, int status = 0) {
        FetchResult result;
        result.outcome = outcome;
        result.status = status;
        result.message = std::move(message);
        finish(std::move(result));
    }

    void failWith(GError* error) {
        if (timedOut) {
            fail(FetchResult::Outcome::timedOut, "");
        } else {
            fail(FetchResult::Outcome::failed, error ? error->message : "unknown error");
        }
        if (error) g_error_free(error);
    }

    void timeOut() {
        if (!done) return;
        timedOut = true;
        g_cancellable_cancel(cancellable.get());
    }

    void send(const Holder& self, const std::string& url) {
        if (!isAllowed(url, allowLoopbackHttp)) {
            fail(FetchResult::Outcome::insecure, url);
            return;
        }
        message = GObjectPtr<SoupMessage>::adopt(soup_message_new("GET", url.c_str()));
        if (!message) {
            fail(FetchResult::Outcome::failed, "invalid address");
            return;
        }
        // Redirects are followed here, so that each target is checked first.
        soup_message_set_flags(message.get(), SOUP_MESSAGE_NO_REDIRECT);
        soup_session_send_async(session.get(), message.get(), G_PRIORITY_DEFAULT, cancellable.get(),
                                onSent, new Holder(self));
    }

    void read(const Holder& self) {
        g_input_stream_read_bytes_async(stream.get(), readChunk, G_PRIORITY_DEFAULT,
                                        cancellable.get(), onRead, new Holder(self));
    }

    static void onSent(GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Holder> holder(static_cast<Holder*>(data));
        Operation& self = **holder;
        GError* error = nullptr;
        GInputStream* stream = soup_session_send_finish(SOUP_SESSION(source), result, &error);
        if (!stream) {
            self.failWith(error);
            return;
        }
        self.stream = GObjectPtr<GInputStream>::adopt(stream);
        if (!self.done) return;
        const guint status = soup_message_get_status(self.message.get());
        SoupMessageHeaders* headers = soup_message_get_response_headers(self.message.get());
        if (SOUP_STATUS_IS_REDIRECTION(status)) {
            const char* location = soup_message_headers_get_one(headers, "Location");
            if (location && ++self.redirects <= maximumRedirects) {
                GUri* next = g_uri_parse_relative(soup_message_get_uri(self.message.get()), location,
                                                  static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr);
                if (!next) {
                    self.fail(FetchResult::Outcome::failed, "invalid redirect");
                    return;
                }
                char* text = g_uri_to_string(next);
                const std::string target = text;
                g_free(text);
                g_uri_unref(next);
                self.stream = {};
                self.send(*holder, target);
                return;
            }
            if (location) {
                self.fail(FetchResult::Outcome::failed, "too many redirects");
                return;
            }
        }
        if (status != SOUP_STATUS_OK) {
            self.fail(FetchResult::Outcome::httpStatus, "", static_cast<int>(status));
            return;
        }
        if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
            soup_message_headers_get_content_length(headers) > static_cast<goffset>(maximumBodySize)) {
            self.fail(FetchResult::Outcome::tooLarge, "");
            g_cancellable_cancel(self.cancellable.get());
            return;
        }
        self.read(*holder);
    }

    static void onRead(GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Holder> holder(static_cast<Holder*>(data));
        Operation& self = **holder;
        GError* error = nullptr;
        GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
        if (!bytes) {
            self.failWith(error);
            return;
        }
        gsize size = 0;
        const auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes, &size));
        const bool tooLarge = self.body.size() + size > maximumBodySize;
        if (!tooLarge) self.body.append(chunk, size);
        g_bytes_unref(bytes);
        if (!self.done) return;
        if (tooLarge) {
            self.fail(FetchResult::Outcome::tooLarge, "");
            g_cancellable_cancel(self.cancellable.get());
            return;
        }
        if (size == 0) {
            FetchResult fetched;
            fetched.outcome = FetchResult::Outcome::ok;
            fetched.status = SOUP_STATUS_OK;
            fetched.body = std::move(self.body);
            self.finish(std::move(fetched));
            return;
        }
        self.read(*holder);
    }
};

SoupFeedFetcher::SoupFeedFetcher(Options options) : options_(std::move(options)) {
    const guint seconds = static_cast<guint>(
        std::max<long long>(1, std::chrono::ceil<std::chrono::seconds>(options_.timeout).count()));
    session_ = GObjectPtr<SoupSession>::adopt(soup_session_new_with_options(
        "user-agent", options_.userAgent.c_str(), "timeout", seconds, "idle-timeout", seconds,
        nullptr));
}

SoupFeedFetcher::~SoupFeedFetcher() = default;

bool SoupFeedFetcher::isAllowed(const std::string& url, bool allowLoopbackHttp) {
    GUri* uri = g_uri_parse(url.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr);
    if (!uri) return false;
    const char* scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    bool allowed = false;
    if (scheme && host && *host) {
        if (g_ascii_strcasecmp(scheme, "https") == 0) {
            allowed = true;
        } else if (g_ascii_strcasecmp(scheme, "http") == 0) {
            allowed = allowLoopbackHttp && isLoopbackHost(host);
        }
    }
    g_uri_unref(uri);
    return allowed;
}

Task<FetchResult> SoupFeedFetcher::fetch(std::string url) {
    auto operation = std::make_shared<Operation>();
    operation->session = session_;
    operation->allowLoopbackHttp = options_.allowLoopbackHttpForTesting;
    std::weak_ptr<Operation> weak = operation;
    auto onTimeOut = [weak] {
        if (auto alive = weak.lock()) alive->timeOut();
    };
    Clock& clock = options_.clock ? *options_.clock : Clock::system();
    const TimerHandle timer = MainThread::postAfter(clock, options_.timeout, std::move(onTimeOut));
    // The request and the timer stop with the task, also when it is cancelled.
    struct Stop {
        std::shared_ptr<Operation> operation;
        TimerHandle timer;
        ~Stop() {
            timer.cancel();
            operation->done.reset();
            g_cancellable_cancel(operation->cancellable.get());
        }
    };
    const Stop stop{operation, timer};
    auto start = [operation, url](Completion<FetchResult> done) {
        operation->done.emplace(std::move(done));
        operation->send(operation, url);
    };
    FetchResult result = co_await awaitCompletion<FetchResult>(std::move(start));
    co_return result;
}

}  // namespace larkspin
