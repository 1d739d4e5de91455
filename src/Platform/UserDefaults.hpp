#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

// The program's preference store: one JSON object of plain keys
// ("typography.fontSizePx", "document.externalChangePolicy", …) in
// $XDG_CONFIG_HOME/Larkspin/preferences.json. A change takes effect in memory
// at once (every reader sees it); the file is rewritten atomically on a
// background queue shortly after, one write for a burst of changes: a write
// that has not started yet takes every change made before it starts.
// SerialExecutor::finishAll() at quit waits for the last one. Getters never
// fail: a missing key or a value of the wrong kind reads as absent and the
// caller falls back to its default. Values given on the command line as
// "-Key value" (the argument domain) win over stored ones and are never
// written. Thread-safe.
class UserDefaults {
public:
    // A store over `file`; a missing file is an empty store. A file that cannot
    // be read or parsed (also one nested deeper than maximumJSONDepth, or a
    // FIFO, socket, device or folder, which is never opened) is kept aside as
    // "<file>.corrupt" (or "<file>.corrupt-2"…, an earlier one being kept)
    // and the store starts empty; so is a file larger than
    // maximumFileSize, refused by the size of the opened file before it is
    // read. `sys` is copied; tests pass calls that count or fail.
    explicit UserDefaults(std::filesystem::path file, const SysCalls& sys = realSysCalls());

    // The largest preference file read: far beyond what the program's few
    // dozen keys take, far below what would strain memory at launch.
    static constexpr std::uint64_t maximumFileSize = 4 * 1024 * 1024;

    // The program's store: $XDG_CONFIG_HOME/Larkspin/preferences.json.
    static std::filesystem::path standardLocation();

    const std::filesystem::path& file() const { return file_; }

    // Texts; a stored number reads as its decimal text.
    std::optional<std::string> string(std::string_view key) const;
    // Booleans; also numbers (non-zero is true) and the texts YES/NO, true/false, 1/0.
    std::optional<bool> boolean(std::string_view key) const;
    // Whole numbers; also a real (truncated) and a text that is a whole number.
    // A number beyond the 64-bit range reads as the nearest end of it.
    std::optional<std::int64_t> integer(std::string_view key) const;
    // Real numbers; also a text that is a number.
    std::optional<double> real(std::string_view key) const;
    // The raw stored value.
    std::optional<nlohmann::json> value(std::string_view key) const;
    bool contains(std::string_view key) const;

    void setString(std::string_view key, std::string value);
    void setBool(std::string_view key, bool value);
    void setInteger(std::string_view key, std::int64_t value);
    void setReal(std::string_view key, double value);
    void setValue(std::string_view key, nlohmann::json value);
    // Sets every member of the object `values` with one write of the file.
    void setValues(nlohmann::json values);
    void remove(std::string_view key);

    // A JSON number as a whole number: integers as they are, reals
    // truncated, anything beyond the 64-bit range saturated to its nearest
    // end (never wrapped); nothing for NaN and for what is not a number.
    static std::optional<std::int64_t> wholeNumber(const nlohmann::json& value);

    // The stored (persistent) values, without the argument domain.
    nlohmann::json storedValues() const;

    // Reads "-Key value" pairs from the command line into the argument domain.
    // Returns the arguments that are not such pairs, in order (argv[0] first).
    std::vector<std::string> applyArguments(const std::vector<std::string>& arguments);

    // The error of the last failed write, cleared by a successful one; only
    // writes that have run count.
    std::error_code lastWriteError() const;

    // Blocks (at most a few seconds) until the writes queued so far have
    // run; for tests. False when it ran out of time.
    bool drainForTesting();
    // Writes of the file run so far, failed ones included; for tests.
    std::size_t writeCount() const;

private:
    std::optional<nlohmann::json> lookup(std::string_view key) const;
    void store(std::string_view key, std::optional<nlohmann::json> value);
    struct Writer;

    void writeLocked();
    void load();
    void setAside(std::string_view what, std::string_view why);

    std::filesystem::path file_;
    SysCalls sys_;
    mutable std::mutex mutex_;
    nlohmann::json values_ = nlohmann::json::object();
    nlohmann::json arguments_ = nlohmann::json::object();
    // Shared with the queued write, which may outlive the store.
    std::shared_ptr<Writer> writer_;
    // Last, so that it goes first; never waits on the main thread.
    std::unique_ptr<SerialExecutor> queue_;
};

}  // namespace larkspin
