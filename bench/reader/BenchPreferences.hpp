#pragma once

// Preferences and a notification centre of a bench's own, for the program's
// services it makes: an empty store in a fresh temporary folder, removed
// with it, so that a bench neither reads nor changes the user's.

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"

namespace larkspin::bench {

class BenchPreferences {
public:
    BenchPreferences() : folder_(makeFolder()), defaults_(folder_ / "preferences.json") {}
    ~BenchPreferences() {
        defaults_.drainForTesting();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    BenchPreferences(const BenchPreferences&) = delete;
    BenchPreferences& operator=(const BenchPreferences&) = delete;

    UserDefaults& defaults() { return defaults_; }
    NotificationCenter& notifications() { return *notifications_; }

private:
    static std::filesystem::path makeFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "larkspin-bench-XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        if (!made) throw std::runtime_error("bench: no temporary folder for the preferences");
        return made;
    }

    std::filesystem::path folder_;
    UserDefaults defaults_;
    std::shared_ptr<NotificationCenter> notifications_ = NotificationCenter::create();
};

}  // namespace larkspin::bench
