#pragma once

#include <glib-object.h>

#include <utility>

namespace larkspin {

// Owns one reference to a GObject (GTK widgets, WebKit objects, GIO objects).
// `adopt` takes over a reference the caller already holds (and sinks a
// floating one, as a new widget has); `retain` adds a reference of its own.
template <typename T>
class GObjectPtr {
public:
    GObjectPtr() = default;
    GObjectPtr(std::nullptr_t) {}

    static GObjectPtr adopt(T* object) {
        GObjectPtr owner;
        if (object && g_object_is_floating(object)) g_object_ref_sink(object);
        owner.object_ = object;
        return owner;
    }
    static GObjectPtr retain(T* object) {
        GObjectPtr owner;
        if (object) g_object_ref(object);
        owner.object_ = object;
        return owner;
    }

    GObjectPtr(const GObjectPtr& other) : object_(other.object_) {
        if (object_) g_object_ref(object_);
    }
    GObjectPtr(GObjectPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GObjectPtr& operator=(GObjectPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GObjectPtr() { reset(); }

    void reset() {
        if (auto* object = std::exchange(object_, nullptr)) g_object_unref(object);
    }
    // Hands the reference to the caller.
    [[nodiscard]] T* release() { return std::exchange(object_, nullptr); }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

}  // namespace larkspin
