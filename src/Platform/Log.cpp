#include "Platform/Log.hpp"

#include <fmt/format.h>
#include <glib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <utility>

namespace larkspin {

std::string_view toString(LogLevel level) {
    switch (level) {
        case LogLevel::debug: return "debug";
        case LogLevel::info: return "info";
        case LogLevel::notice: return "notice";
        case LogLevel::error: return "error";
        case LogLevel::fault: return "fault";
    }
    return "unknown";
}

namespace {

const std::string kDomain(AppLog::subsystem);

struct CaptureState {
    std::shared_mutex mutex;
    std::shared_ptr<const AppLog::CaptureHook> hook;
    bool suppress = false;
};

CaptureState& captureState() {
    static auto* state = new CaptureState();  // lives until exit; loggers may run late
    return *state;
}

std::atomic<int> gRevealOverride{-1};  // -1: environment, 0: hide, 1: reveal

GLogLevelFlags glibLevel(LogLevel level) {
    switch (level) {
        case LogLevel::debug: return G_LOG_LEVEL_DEBUG;
        case LogLevel::info: return G_LOG_LEVEL_INFO;
        case LogLevel::notice: return G_LOG_LEVEL_MESSAGE;
        // Neither maps to G_LOG_LEVEL_ERROR or CRITICAL: those abort or trap under
        // G_DEBUG=fatal-criticals, and a logged failure must never end the program.
        case LogLevel::error:
        case LogLevel::fault: return G_LOG_LEVEL_WARNING;
    }
    return G_LOG_LEVEL_MESSAGE;
}

const char* syslogPriority(LogLevel level) {
    switch (level) {
        case LogLevel::debug: return "7";
        case LogLevel::info: return "6";
        case LogLevel::notice: return "5";
        case LogLevel::error: return "3";
        case LogLevel::fault: return "2";
    }
    return "5";
}

// Appends one argument as the conversion asks. Texts go through as they are for
// %s and %@; a number given to %s prints as a number, a text given to %d as text.
void appendArgument(std::string& out, const LogArgument& arg, char conversion, int precision,
                    bool asBool) {
    std::visit(
        [&](const auto& value) {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::string>) {
                out += value;
            } else if constexpr (std::is_same_v<T, bool>) {
                if (asBool || conversion == 's' || conversion == '@') {
                    out += value ? "true" : "false";
                } else {
                    out += value ? '1' : '0';
                }
            } else if constexpr (std::is_same_v<T, double>) {
                if (conversion == 'd' || conversion == 'i' || conversion == 'u') {
                    fmt::format_to(std::back_inserter(out), "{}", static_cast<long long>(value));
                } else if (conversion == 'e') {
                    fmt::format_to(std::back_inserter(out), "{:.{}e}", value, precision < 0 ? 6 : precision);
                } else if (conversion == 'g') {
                    fmt::format_to(std::back_inserter(out), "{:.{}g}", value, precision < 0 ? 6 : precision);
                } else {
                    fmt::format_to(std::back_inserter(out), "{:.{}f}", value, precision < 0 ? 6 : precision);
                }
            } else {
                if (asBool) {
                    out += value != 0 ? "true" : "false";
                } else if (conversion == 'x') {
                    fmt::format_to(std::back_inserter(out), "{:x}", value);
                } else if (conversion == 'X') {
                    fmt::format_to(std::back_inserter(out), "{:X}", value);
                } else if (conversion == 'f' || conversion == 'e' || conversion == 'g') {
                    fmt::format_to(std::back_inserter(out), "{:.{}f}", static_cast<double>(value),
                                   precision < 0 ? 6 : precision);
                } else {
                    fmt::format_to(std::back_inserter(out), "{}", value);
                }
            }
        },
        arg);
}

}  // namespace

namespace AppLog {

bool revealsPrivate() {
    const int forced = gRevealOverride.load(std::memory_order_relaxed);
    if (forced >= 0) return forced == 1;
    static const bool fromEnvironment = [] {
        const char* value = std::getenv("LARKSPIN_LOG_PRIVATE");
        return value != nullptr && std::string_view(value) == "1";
    }();
    return fromEnvironment;
}

void setRevealPrivateForTesting(std::optional<bool> reveal) {
    gRevealOverride.store(reveal ? (*reveal ? 1 : 0) : -1, std::memory_order_relaxed);
}

std::string formatMessage(std::string_view format, std::span<const LogArgument> args,
                          bool revealPrivate) {
    std::string out;
    out.reserve(format.size() + 16 * args.size());
    std::size_t nextArg = 0;
    const std::size_t n = format.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = format[i];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i + 1 < n && format[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        // %[{modifiers}][flags][width][.precision][length]conversion
        std::size_t j = i + 1;
        bool isPublic = false, isPrivate = false, asBool = false;
        if (j < n && format[j] == '{') {
            const std::size_t close = format.find('}', j);
            if (close == std::string_view::npos) {
                out.append(format.substr(i));
                break;
            }
            std::string_view mods = format.substr(j + 1, close - j - 1);
            while (!mods.empty()) {
                const std::size_t comma = mods.find(',');
                std::string_view mod = mods.substr(0, comma);
                while (!mod.empty() && mod.front() == ' ') mod.remove_prefix(1);
                while (!mod.empty() && mod.back() == ' ') mod.remove_suffix(1);
                if (mod == "public") isPublic = true;
                else if (mod == "private") isPrivate = true;
                else if (mod == "bool" || mod == "BOOL") asBool = true;
                if (comma == std::string_view::npos) break;
                mods.remove_prefix(comma + 1);
            }
            j = close + 1;
        }
        while (j < n && (format[j] == '-' || format[j] == '+' || format[j] == ' ' ||
                         format[j] == '#' || format[j] == '0'))
            ++j;
        while (j < n && format[j] >= '0' && format[j] <= '9') ++j;
        int precision = -1;
        if (j < n && format[j] == '.') {
            ++j;
            precision = 0;
            while (j < n && format[j] >= '0' && format[j] <= '9') {
                precision = std::min(precision * 10 + (format[j] - '0'), 64);
                ++j;
            }
        }
        while (j < n && (format[j] == 'l' || format[j] == 'h' || format[j] == 'z' ||
                         format[j] == 'j' || format[j] == 't' || format[j] == 'q' ||
                         format[j] == 'L'))
            ++j;
        if (j >= n) {
            out.append(format.substr(i));
            break;
        }
        const char conversion = format[j];
        static constexpr std::string_view kConversions = "diuxXfFeEgGs@c";
        if (kConversions.find(conversion) == std::string_view::npos) {
            out.append(format.substr(i, j - i + 1));
            i = j;
            continue;
        }
        i = j;
        if (nextArg >= args.size()) {
            out += "<missing>";
            continue;
        }
        const LogArgument& arg = args[nextArg++];
        // Dynamic texts are private unless marked public; scalars are public
        // unless marked private.
        const bool isText = std::holds_alternative<std::string>(arg);
        const bool hidden = isPrivate || (isText && !isPublic && (conversion == 's' || conversion == '@'));
        if (hidden && !revealPrivate) {
            out += "<private>";
            continue;
        }
        const char lowered = (conversion == 'F' || conversion == 'E' || conversion == 'G')
                                 ? static_cast<char>(conversion + ('a' - 'A'))
                                 : conversion;
        appendArgument(out, arg, lowered, precision, asBool);
    }
    return out;
}

namespace {
// A record being captured on another thread holds its own reference to the
// hook; the hook's owner may free what it captures once this returns.
void waitForCallsOf(const std::shared_ptr<const CaptureHook>& replaced) {
    while (replaced && replaced.use_count() > 1) std::this_thread::yield();
}
}  // namespace

void setCaptureHook(CaptureHook hook, bool suppressOutput) {
    auto& state = captureState();
    std::shared_ptr<const CaptureHook> replaced;
    {
        std::unique_lock lock(state.mutex);
        replaced = std::exchange(state.hook, std::make_shared<const CaptureHook>(std::move(hook)));
        state.suppress = suppressOutput;
    }
    waitForCallsOf(replaced);
}

void clearCaptureHook() {
    auto& state = captureState();
    std::shared_ptr<const CaptureHook> replaced;
    {
        std::unique_lock lock(state.mutex);
        replaced = std::exchange(state.hook, nullptr);
        state.suppress = false;
    }
    waitForCallsOf(replaced);
}

namespace {
GLogWriterOutput writer(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer) {
    const char* domain = nullptr;
    const char* message = nullptr;
    const char* category = nullptr;
    for (gsize i = 0; i < count; ++i) {
        const std::string_view key = fields[i].key;
        if (key == "GLIB_DOMAIN") domain = static_cast<const char*>(fields[i].value);
        else if (key == "MESSAGE") message = static_cast<const char*>(fields[i].value);
        else if (key == "LARKSPIN_CATEGORY") category = static_cast<const char*>(fields[i].value);
    }
    if (domain == nullptr || kDomain != domain) {
        return g_log_writer_default(level, fields, count, nullptr);
    }
    if (g_log_writer_default_would_drop(level, domain)) return G_LOG_WRITER_HANDLED;
    if (g_log_writer_is_journald(fileno(stderr))) {
        if (g_log_writer_journald(level, fields, count, nullptr) == G_LOG_WRITER_HANDLED) {
            return G_LOG_WRITER_HANDLED;
        }
    }
    const char* levelName = "message";
    switch (level & G_LOG_LEVEL_MASK) {
        case G_LOG_LEVEL_DEBUG: levelName = "debug"; break;
        case G_LOG_LEVEL_INFO: levelName = "info"; break;
        case G_LOG_LEVEL_MESSAGE: levelName = "notice"; break;
        default: levelName = "error"; break;
    }
    std::string line = fmt::format("larkspin[{}] {}: {}\n", category ? category : "-", levelName,
                                   message ? message : "");
    fwrite(line.data(), 1, line.size(), stderr);
    return G_LOG_WRITER_HANDLED;
}
}  // namespace

void installWriter() {
    static std::once_flag once;
    std::call_once(once, [] { g_log_set_writer_func(writer, nullptr, nullptr); });
}

}  // namespace AppLog

bool Logger::enabled(LogLevel level) const {
    {
        auto& state = captureState();
        std::shared_lock lock(state.mutex);
        if (state.hook) return true;
    }
    if (level == LogLevel::debug || level == LogLevel::info) {
        return !g_log_writer_default_would_drop(glibLevel(level), kDomain.c_str());
    }
    return true;
}

void Logger::emit(LogLevel level, std::string_view format, std::span<const LogArgument> args) const {
    std::string message = AppLog::formatMessage(format, args, AppLog::revealsPrivate());
    std::shared_ptr<const AppLog::CaptureHook> hook;
    bool suppress = false;
    {
        auto& state = captureState();
        std::shared_lock lock(state.mutex);
        hook = state.hook;
        suppress = state.suppress;
    }
    if (hook) {
        (*hook)(LogRecord{level, std::string(category_), message});
        hook.reset();  // clearCaptureHook() waits for this
        if (suppress) return;
    }
    const std::string category(category_);
    const GLogField fields[] = {
        {"GLIB_DOMAIN", kDomain.c_str(), -1},
        {"PRIORITY", syslogPriority(level), -1},
        {"MESSAGE", message.c_str(), -1},
        {"LARKSPIN_CATEGORY", category.c_str(), -1},
    };
    g_log_structured_array(glibLevel(level), fields, G_N_ELEMENTS(fields));
}

}  // namespace larkspin
