#pragma once

#include <cstdint>
#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace larkspin {

// Which open documents watch their file. Each watch holds one descriptor,
// and the process may hold only so many (GLib ends the program when it
// cannot make a pipe), so at most `capacity` documents watch at a time: the
// others wait, unwatched, until their page is shown. A document being shown
// always gets its watch, from the document shown least recently when there
// is no room. Keeps identifiers and the order of showing only. A plain value.
class FileWatchBudget {
public:
    // The watches a process may hold under a limit of `descriptorLimit` open
    // descriptors: half of it. The other half is the rest of the program's:
    // GLib, GTK, fonts, the workers' reads and saves, and about six for
    // each live web page.
    static std::size_t capacityFor(std::uint64_t descriptorLimit);

    explicit FileWatchBudget(std::size_t capacity) : capacity_(capacity) {}

    // What a request decided.
    struct Grant {
        bool granted = false;
        // The document that gives its watch up for this one.
        std::optional<std::string> released;
        bool operator==(const Grant&) const = default;
    };

    // The document `id` wants to watch its file. Granted while there is room
    // (or it watches already); beyond that only when `shown` (its page is
    // shown now), in place of the document that holds a watch and was shown
    // least recently. A shown document counts as the most recent one.
    Grant request(const std::string& id, bool shown);
    // The document no longer watches (it closed).
    void release(const std::string& id);

    bool holds(const std::string& id) const { return holders_.contains(id); }
    std::size_t holderCount() const { return holders_.size(); }
    std::size_t capacity() const { return capacity_; }

private:
    std::size_t capacity_;
    // The documents watching, each with the logical time it was last shown
    // or admitted.
    std::map<std::string, std::uint64_t> holders_;
    std::uint64_t clock_ = 0;
};

}  // namespace larkspin
