#include "Document/FileWatchBudget.hpp"

#include <algorithm>

namespace larkspin {

std::size_t FileWatchBudget::capacityFor(std::uint64_t descriptorLimit) {
    return static_cast<std::size_t>(descriptorLimit / 2);
}

FileWatchBudget::Grant FileWatchBudget::request(const std::string& id, bool shown) {
    const auto held = holders_.find(id);
    if (held != holders_.end()) {
        if (shown) held->second = ++clock_;
        return {true, std::nullopt};
    }
    if (holders_.size() < capacity_) {
        holders_.emplace(id, ++clock_);
        return {true, std::nullopt};
    }
    if (!shown || capacity_ == 0) return {false, std::nullopt};
    const auto oldest = std::min_element(holders_.begin(), holders_.end(), [](const auto& a, const auto& b) {
        return a.second < b.second;
    });
    std::string released = oldest->first;
    holders_.erase(oldest);
    holders_.emplace(id, ++clock_);
    return {true, std::move(released)};
}

void FileWatchBudget::release(const std::string& id) {
    holders_.erase(id);
}

}  // namespace larkspin
