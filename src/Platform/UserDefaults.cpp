#include "Platform/UserDefaults.hpp"

#include <glib.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include <fmt/format.h>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Json/BoundedJSON.hpp"
#include "Platform/Log.hpp"
#include "Platform/Files/WholeFile.hpp"
#include "Platform/Text/TextTrimming.hpp"

namespace larkspin {

namespace {

std::optional<std::int64_t> parseInteger(std::string_view text) {
    std::int64_t out = 0;
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return out;
}

std::optional<double> parseReal(std::string_view text) {
    double out = 0;
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    if (ec != std::errc() || ptr != end || text.empty() || !std::isfinite(out)) return std::nullopt;
    return out;
}

}  // namespace

// The state of the file's writes. `pending` holds the values that a queued
// write has not taken yet: a change made while it waits replaces them, so a
// burst of changes costs one write (two when one is already under way).
struct UserDefaults::Writer {
    Writer(std::filesystem::path f, const SysCalls& s) : file(std::move(f)), sys(s) {}

    // Returns true when a write has to be queued for `values`.
    bool offer(nlohmann::json values) {
        std::lock_guard lock(mutex);
        const bool queued = pending.has_value();
        pending = std::move(values);
        return !queued;
    }

    // On the queue.
    void writePending() {
        std::optional<nlohmann::json> values;
        {
            std::lock_guard lock(mutex);
            values = std::exchange(pending, std::nullopt);
        }
        if (!values) return;
        // Invalid UTF-8 in a stored text is replaced rather than thrown about.
        const std::string text =
            values->dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
        values.reset();
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
        ec = writeFileAtomically(file, text, 0600, sys);
        {
            std::lock_guard lock(mutex);
            lastError = ec;
            ++writes;
        }
        if (ec) {
            AppLog::document.error("写入偏好设置失败 %{private}s：%{public}s", file, ec.message());
        }
    }

    const std::filesystem::path file;
    const SysCalls sys;
    mutable std::mutex mutex;
    std::optional<nlohmann::json> pending;  // under mutex
    std::error_code lastError;              // under mutex
    std::size_t writes = 0;                 // under mutex
};

UserDefaults::UserDefaults(std::filesystem::path file, const SysCalls& sys)
    : file_(std::move(file)),
      sys_(sys),
      writer_(std::make_shared<Writer>(file_, sys_)),
      queue_(std::make_unique<SerialExecutor>("dev.corvantel.larkspin.preferences")) {
    load();
}

std::filesystem::path UserDefaults::standardLocation() {
    return std::filesystem::path(g_get_user_config_dir()) / "Larkspin" / "preferences.json";
}

void UserDefaults::load() {
    // Read like a document (FileReader): a FIFO, socket or device at the path
    // is never opened, since opening one can block for ever. A file larger
    // than any preferences we write is refused by its size before it is read:
    // reading and parsing it would take several times its size in memory.
    const auto bytes = WholeFile::readAtMost(file_, maximumFileSize, sys_);
    if (!bytes) {
        const std::error_code error = bytes.error();
        if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
            return;  // no preferences yet
        }
        if (error == std::errc::file_too_large) {
            setAside("偏好设置文件过大", fmt::format("超过 {} 字节", maximumFileSize));
            return;
        }
        setAside("偏好设置文件无法读取", error.message());
        return;
    }
    std::string failure;
    auto parsed = parseBoundedJSON(*bytes, failure);
    if (parsed && parsed->is_object()) {
        values_ = std::move(*parsed);
        return;
    }
    setAside("偏好设置文件无法解析", parsed ? "不是字典" : failure);
}

// Keeps what could not be read for the user instead of overwriting it with
// the next change; the store starts empty.
void UserDefaults::setAside(std::string_view what, std::string_view why) {
    const auto aside = setAsideUnusableFile(file_, sys_);
    if (!aside) {
        AppLog::document.error("%{public}s（%{public}s），也无法另存：%{public}s", what, why,
                               aside.error().message());
        return;
    }
    AppLog::document.error("%{public}s（%{public}s），已移到 %{private}s 并从默认值开始", what, why,
                           *aside);
    if (aside->native() != file_.native() + ".corrupt") {
        AppLog::document.error("之前另存的偏好设置文件仍在，这一份另存为 %{private}s，两份都保留",
                               aside->filename().string());
    }
}

std::optional<nlohmann::json> UserDefaults::lookup(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const std::string k(key);
    if (auto it = arguments_.find(k); it != arguments_.end()) return *it;
    if (auto it = values_.find(k); it != values_.end()) return *it;
    return std::nullopt;
}

std::optional<nlohmann::json> UserDefaults::value(std::string_view key) const { return lookup(key); }

bool UserDefaults::contains(std::string_view key) const { return lookup(key).has_value(); }

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    const auto v = lookup(key);
    if (!v) return std::nullopt;
    if (v->is_string()) return v->get<std::string>();
    if (v->is_number()) return v->dump();
    return std::nullopt;
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
    const auto v = lookup(key);
    if (!v) return std::nullopt;
    if (v->is_boolean()) return v->get<bool>();
    if (v->is_number()) return v->get<double>() != 0.0;
    if (v->is_string()) {
        const auto text = asciiLowercased(v->get<std::string>());
        if (text == "yes" || text == "true" || text == "1") return true;
        if (text == "no" || text == "false" || text == "0") return false;
    }
    return std::nullopt;
}

std::optional<std::int64_t> UserDefaults::integer(std::string_view key) const {
    const auto v = lookup(key);
    if (!v) return std::nullopt;
    if (v->is_string()) return parseInteger(v->get<std::string>());
    return wholeNumber(*v);
}

std::optional<std::int64_t> UserDefaults::wholeNumber(const nlohmann::json& value) {
    constexpr auto most = std::numeric_limits<std::int64_t>::max();
    constexpr auto least = std::numeric_limits<std::int64_t>::min();
    // Unsigned first: is_number_integer() holds for unsigned numbers too, and
    // reading one above the signed range as signed would wrap.
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        return number > static_cast<std::uint64_t>(most) ? most : static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (std::isnan(number)) return std::nullopt;
        // ±2^63 are exact doubles; everything strictly between them converts.
        if (number >= 9223372036854775808.0) return most;
        if (number <= -9223372036854775808.0) return least;
        return static_cast<std::int64_t>(number);
    }
    return std::nullopt;
}

std::optional<double> UserDefaults::real(std::string_view key) const {
    const auto v = lookup(key);
    if (!v) return std::nullopt;
    if (v->is_number()) return v->get<double>();
    if (v->is_string()) return parseReal(v->get<std::string>());
    return std::nullopt;
}

void UserDefaults::setString(std::string_view key, std::string value) { store(key, nlohmann::json(std::move(value))); }
void UserDefaults::setBool(std::string_view key, bool value) { store(key, nlohmann::json(value)); }
void UserDefaults::setInteger(std::string_view key, std::int64_t value) { store(key, nlohmann::json(value)); }
void UserDefaults::setReal(std::string_view key, double value) {
    if (!std::isfinite(value)) {
        AppLog::document.error("偏好设置 %{public}s 的值不是有限数，忽略", key);
        return;
    }
    store(key, nlohmann::json(value));
}
void UserDefaults::setValue(std::string_view key, nlohmann::json value) { store(key, std::move(value)); }
void UserDefaults::setValues(nlohmann::json values) {
    if (!values.is_object()) {
        AppLog::document.error("批量偏好设置不是字典，忽略");
        return;
    }
    if (values.empty()) return;
    std::lock_guard lock(mutex_);
    for (auto& [key, value] : values.items()) values_[key] = std::move(value);
    writeLocked();
}
void UserDefaults::remove(std::string_view key) { store(key, std::nullopt); }

nlohmann::json UserDefaults::storedValues() const {
    std::lock_guard lock(mutex_);
    return values_;
}

void UserDefaults::store(std::string_view key, std::optional<nlohmann::json> value) {
    std::lock_guard lock(mutex_);
    const std::string k(key);
    if (value) {
        values_[k] = std::move(*value);
    } else if (values_.erase(k) == 0) {
        return;
    }
    writeLocked();
}

// Under mutex_, so that offers reach the writer in the order of the changes.
void UserDefaults::writeLocked() {
    if (!writer_->offer(values_)) return;  // the queued write takes this state too
    queue_->submit([writer = writer_] { writer->writePending(); });
}

std::error_code UserDefaults::lastWriteError() const {
    std::lock_guard lock(writer_->mutex);
    return writer_->lastError;
}

std::size_t UserDefaults::writeCount() const {
    std::lock_guard lock(writer_->mutex);
    return writer_->writes;
}

bool UserDefaults::drainForTesting() {
    return larkspin::drainForTesting(*queue_);
}

std::vector<std::string> UserDefaults::applyArguments(const std::vector<std::string>& arguments) {
    std::vector<std::string> rest;
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        const bool isKey = i > 0 && arg.size() > 1 && arg[0] == '-' && g_ascii_isalpha(arg[1]) &&
                           arg.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                 "0123456789._-", 1) == std::string::npos &&
                           i + 1 < arguments.size();
        if (isKey) {
            arguments_[arg.substr(1)] = arguments[i + 1];
            ++i;
        } else {
            rest.push_back(arg);
        }
    }
    return rest;
}

}  // namespace larkspin
