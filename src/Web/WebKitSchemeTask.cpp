#include "Web/WebKitSchemeTask.hpp"

#include <gio/gio.h>
#include <libsoup/soup.h>

namespace larkspin {

WebKitSchemeTask::WebKitSchemeTask(WebKitURISchemeRequest* request)
    : request_(GObjectPtr<WebKitURISchemeRequest>::retain(request)),
      webView_(keyOf(webkit_uri_scheme_request_get_web_view(request))) {}

GQuark WebKitSchemeTask::urlLoadingErrorQuark() {
    return g_quark_from_static_string("larkspin-url-loading-error-quark");
}

std::optional<std::string> WebKitSchemeTask::requestURL() const {
    const char* uri = webkit_uri_scheme_request_get_uri(request_.get());
    if (uri == nullptr) return std::nullopt;
    return std::string(uri);
}

void WebKitSchemeTask::respond(SchemeResponse response) {
    if (!request_) return;
    // The bytes move into the stream without a copy; GLib frees them.
    auto* body = new std::string(std::move(response.body));
    GBytes* bytes = g_bytes_new_with_free_func(
        body->data(), body->size(), [](gpointer data) { delete static_cast<std::string*>(data); },
        body);
    GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
    WebKitURISchemeResponse* answer =
        webkit_uri_scheme_response_new(stream, static_cast<gint64>(g_bytes_get_size(bytes)));
    webkit_uri_scheme_response_set_status(
        answer, static_cast<guint>(response.status),
        soup_status_get_phrase(static_cast<guint>(response.status)));
    webkit_uri_scheme_response_set_content_type(answer, response.contentType.c_str());
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    for (const auto& [name, value] : response.headers) {
        soup_message_headers_append(headers, name.c_str(), value.c_str());
    }
    webkit_uri_scheme_response_set_http_headers(answer, headers);  // takes the headers
    webkit_uri_scheme_request_finish_with_response(request_.get(), answer);
    g_object_unref(answer);
    g_object_unref(stream);
    g_bytes_unref(bytes);
    request_.reset();
}

void WebKitSchemeTask::fail(SchemeFailure failure) {
    if (!request_) return;
    GError* error = nullptr;
    switch (failure.kind) {
        case SchemeFailure::Kind::fileDoesNotExist:
            error = g_error_new_literal(urlLoadingErrorQuark(), failure.code, "fileDoesNotExist");
            break;
        case SchemeFailure::Kind::badServerResponse:
            error = g_error_new_literal(urlLoadingErrorQuark(), failure.code, "badServerResponse");
            break;
        case SchemeFailure::Kind::readError:
            error = g_error_new_literal(G_IO_ERROR, g_io_error_from_errno(failure.code),
                                        g_strerror(failure.code));
            break;
    }
    webkit_uri_scheme_request_finish_error(request_.get(), error);
    g_error_free(error);
    request_.reset();
}

}  // namespace larkspin
