#pragma once

#include <glib-object.h>

#include <utility>

namespace larkspin {

// One signal handler on one GObject, disconnected when the guard goes away or
// is reset. The guard holds the object weakly: when the object is finalised
// first, the handler went with it and nothing is disconnected.
class SignalConnection {
public:
    SignalConnection() = default;
    SignalConnection(gpointer instance, gulong handler) : handler_(handler) {
        if (instance && handler) g_weak_ref_init(&instance_, instance);
        else handler_ = 0;
    }
    // Connects `callback` to `signal` of `instance` and guards the handler.
    static SignalConnection connect(gpointer instance, const char* signal, GCallback callback,
                                    gpointer data) {
        return SignalConnection(instance, g_signal_connect(instance, signal, callback, data));
    }

    SignalConnection(const SignalConnection&) = delete;
    SignalConnection& operator=(const SignalConnection&) = delete;
    SignalConnection(SignalConnection&& other) noexcept { take(other); }
    SignalConnection& operator=(SignalConnection&& other) noexcept {
        if (this != &other) {
            disconnect();
            take(other);
        }
        return *this;
    }
    ~SignalConnection() { disconnect(); }

    void disconnect() {
        if (!handler_) return;
        if (GObject* object = static_cast<GObject*>(g_weak_ref_get(&instance_))) {
            if (g_signal_handler_is_connected(object, handler_)) {
                g_signal_handler_disconnect(object, handler_);
            }
            g_object_unref(object);
        }
        g_weak_ref_clear(&instance_);
        handler_ = 0;
    }

private:
    void take(SignalConnection& other) {
        handler_ = std::exchange(other.handler_, 0);
        if (handler_) {
            GObject* object = static_cast<GObject*>(g_weak_ref_get(&other.instance_));
            g_weak_ref_init(&instance_, object);
            if (object) g_object_unref(object);
            g_weak_ref_clear(&other.instance_);
        }
    }

    GWeakRef instance_{};
    gulong handler_ = 0;
};

}  // namespace larkspin
