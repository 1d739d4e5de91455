#pragma once

// A stand-in for the network in web-view tests: a local HTTP proxy on the
// loopback interface that writes down the request line of everything sent
// to it ("GET http://host/path HTTP/1.1", "CONNECT host:443 HTTP/1.1") and
// refuses it. Made the proxy of WebKit's default network session, it keeps
// every http and https load of the test's pages on this machine, so tests
// need no network and see each remote request a page attempted.

#include <gio/gio.h>
#include <webkit/webkit.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace larkspin::test {

class NetworkSink {
public:
    NetworkSink() {
        service_ = g_threaded_socket_service_new(4);
        GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
        GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
        GSocketAddress* effective = nullptr;
        GError* error = nullptr;
        const gboolean added = g_socket_listener_add_address(
            G_SOCKET_LISTENER(service_), address, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP,
            nullptr, &effective, &error);
        g_object_unref(address);
        g_object_unref(loopback);
        if (!added) {
            const std::string message = error ? error->message : "unknown error";
            if (error) g_error_free(error);
            g_object_unref(service_);
            throw std::runtime_error("network sink: cannot listen: " + message);
        }
        port_ = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(effective));
        g_object_unref(effective);
        // A connection still being served when the sink goes keeps the log
        // alive through the handler's data.
        handler_ = g_signal_connect_data(
            service_, "run", G_CALLBACK(&NetworkSink::serve), new std::shared_ptr<Log>(log_),
            [](gpointer data, GClosure*) { delete static_cast<std::shared_ptr<Log>*>(data); },
            GConnectFlags(0));
        g_socket_service_start(G_SOCKET_SERVICE(service_));
    }

    ~NetworkSink() {
        if (routing_) {
            webkit_network_session_set_proxy_settings(webkit_network_session_get_default(),
                                                      WEBKIT_NETWORK_PROXY_MODE_DEFAULT, nullptr);
        }
        g_socket_service_stop(G_SOCKET_SERVICE(service_));
        g_socket_listener_close(G_SOCKET_LISTENER(service_));
        g_signal_handler_disconnect(service_, handler_);
        g_object_unref(service_);
    }
    NetworkSink(const NetworkSink&) = delete;
    NetworkSink& operator=(const NetworkSink&) = delete;

    std::string proxyURI() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // Sends every http and https load of WebKit's default network session
    // here, until this sink goes.
    void routeDefaultNetworkSession() {
        const char* const noExceptions[] = {nullptr};
        WebKitNetworkProxySettings* settings =
            webkit_network_proxy_settings_new(proxyURI().c_str(), noExceptions);
        webkit_network_session_set_proxy_settings(webkit_network_session_get_default(),
                                                  WEBKIT_NETWORK_PROXY_MODE_CUSTOM, settings);
        webkit_network_proxy_settings_free(settings);
        routing_ = true;
    }

    // The request lines received so far, in order.
    std::vector<std::string> requests() const {
        std::lock_guard lock(log_->mutex);
        return log_->requests;
    }

private:
    struct Log {
        std::mutex mutex;
        std::vector<std::string> requests;
    };

    // Runs on one of the service's threads for each connection.
    static gboolean serve(GThreadedSocketService*, GSocketConnection* connection, GObject*,
                          gpointer data) {
        const std::shared_ptr<Log> log = *static_cast<std::shared_ptr<Log>*>(data);
        g_socket_set_timeout(g_socket_connection_get_socket(connection), 10);
        GDataInputStream* input =
            g_data_input_stream_new(g_io_stream_get_input_stream(G_IO_STREAM(connection)));
        std::string requestLine;
        for (int line = 0; line < 200; ++line) {
            gsize length = 0;
            char* text = g_data_input_stream_read_line(input, &length, nullptr, nullptr);
            if (text == nullptr) break;
            std::string current(text, length);
            g_free(text);
            if (!current.empty() && current.back() == '\r') current.pop_back();
            if (line == 0) requestLine = current;
            if (current.empty()) break;
        }
        g_object_unref(input);
        if (!requestLine.empty()) {
            std::lock_guard lock(log->mutex);
            log->requests.push_back(requestLine);
        }
        const bool tunnel = requestLine.starts_with("CONNECT ");
        const std::string answer = std::string(tunnel ? "HTTP/1.1 403 Forbidden" : "HTTP/1.1 404 Not Found") +
                                   "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        g_output_stream_write_all(g_io_stream_get_output_stream(G_IO_STREAM(connection)),
                                  answer.data(), answer.size(), nullptr, nullptr, nullptr);
        g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
        return TRUE;
    }

    GSocketService* service_ = nullptr;
    guint16 port_ = 0;
    gulong handler_ = 0;
    bool routing_ = false;
    std::shared_ptr<Log> log_ = std::make_shared<Log>();
};

}  // namespace larkspin::test
