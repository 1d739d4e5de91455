#pragma once

#include <concepts>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace larkspin {

enum class LogLevel { debug, info, notice, error, fault };

std::string_view toString(LogLevel level);

// One argument of a log line. Texts are copied so that a record can outlive
// the caller's buffers (the capture hook keeps records).
using LogArgument = std::variant<std::string, std::int64_t, std::uint64_t, double, bool>;

struct LogRecord {
    LogLevel level;
    std::string category;
    std::string message;  // rendered, with private values already redacted or revealed
};

namespace detail {
inline LogArgument toLogArgument(std::string_view v) { return std::string(v); }
inline LogArgument toLogArgument(const char* v) { return std::string(v ? v : "(null)"); }
inline LogArgument toLogArgument(const std::string& v) { return v; }
inline LogArgument toLogArgument(const std::filesystem::path& v) { return v.string(); }
inline LogArgument toLogArgument(bool v) { return v; }
template <std::floating_point T>
LogArgument toLogArgument(T v) {
    return static_cast<double>(v);
}
template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>)
LogArgument toLogArgument(T v) {
    if constexpr (std::is_signed_v<T>) {
        return static_cast<std::int64_t>(v);
    } else {
        return static_cast<std::uint64_t>(v);
    }
}
}  // namespace detail

// A logger of one category under the subsystem "dev.corvantel.larkspin".
// Formats use the markers of our log texts: "%{public}s",
// "%{private}s" (and a bare "%s", private by default), "%{bool}d", "%d",
// "%ld", "%lld", "%u", "%lu", "%zu", "%f" (with optional precision), "%x",
// "%%". Numbers are public and never depend on the locale. Private values
// print as "<private>" unless LARKSPIN_LOG_PRIVATE=1.
class Logger {
public:
    constexpr explicit Logger(std::string_view category) : category_(category) {}

    constexpr std::string_view category() const { return category_; }

    template <typename... Args>
    void log(LogLevel level, std::string_view format, const Args&... args) const {
        if (!enabled(level)) return;
        const LogArgument list[] = {LogArgument{}, detail::toLogArgument(args)...};
        emit(level, format, std::span<const LogArgument>(list + 1, sizeof...(Args)));
    }
    template <typename... Args>
    void debug(std::string_view format, const Args&... args) const {
        log(LogLevel::debug, format, args...);
    }
    template <typename... Args>
    void info(std::string_view format, const Args&... args) const {
        log(LogLevel::info, format, args...);
    }
    template <typename... Args>
    void notice(std::string_view format, const Args&... args) const {
        log(LogLevel::notice, format, args...);
    }
    template <typename... Args>
    void error(std::string_view format, const Args&... args) const {
        log(LogLevel::error, format, args...);
    }
    template <typename... Args>
    void fault(std::string_view format, const Args&... args) const {
        log(LogLevel::fault, format, args...);
    }

private:
    bool enabled(LogLevel level) const;
    void emit(LogLevel level, std::string_view format, std::span<const LogArgument> args) const;

    std::string_view category_;
};

namespace AppLog {

inline constexpr std::string_view subsystem = "dev.corvantel.larkspin";

inline constexpr Logger editor{"editor"};
inline constexpr Logger diagrams{"diagrams"};
inline constexpr Logger layout{"layout"};
inline constexpr Logger prewarm{"prewarm"};
inline constexpr Logger bridge{"bridge"};
inline constexpr Logger resources{"resources"};
inline constexpr Logger document{"document"};
inline constexpr Logger update{"update"};
inline constexpr Logger help{"help"};
inline constexpr Logger migration{"migration"};
inline constexpr Logger actions{"actions"};
inline constexpr Logger recovery{"recovery"};

// Renders a log text with its arguments. Unknown markers are copied as they
// stand; a marker without an argument prints "<missing>".
std::string formatMessage(std::string_view format, std::span<const LogArgument> args,
                          bool revealPrivate);

// Whether private values are printed (LARKSPIN_LOG_PRIVATE=1), read once.
bool revealsPrivate();
// Tests may force the answer; nullopt returns to the environment's.
void setRevealPrivateForTesting(std::optional<bool> reveal);

// Routes the program's records: to the journal when stderr is connected to it,
// otherwise one line per record on stderr with the category. Debug and info
// lines follow G_MESSAGES_DEBUG as in every GLib program. Call once from main.
void installWriter();

// Process-wide capture of every record, for tests. While a hook is set, records
// still reach GLib unless `suppressOutput` is true. Thread-safe; the hook may be
// called from any thread. Once setCaptureHook or clearCaptureHook returns, the
// hook it replaced is no longer running on any thread.
using CaptureHook = std::function<void(const LogRecord&)>;
void setCaptureHook(CaptureHook hook, bool suppressOutput = true);
void clearCaptureHook();

}  // namespace AppLog
}  // namespace larkspin
