#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Log.hpp"

namespace larkspin::test {

// Captures every log record while alive (and keeps them off stderr).
class LogCapture {
public:
    LogCapture() {
        AppLog::setCaptureHook([this](const LogRecord& r) {
            std::lock_guard lock(mutex_);
            records_.push_back(r);
        });
    }
    ~LogCapture() { AppLog::clearCaptureHook(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    // True when some record of `category` contains `fragment`.
    bool contains(std::string_view category, std::string_view fragment) const {
        std::lock_guard lock(mutex_);
        for (const auto& r : records_) {
            if (r.category == category && r.message.find(fragment) != std::string::npos) return true;
        }
        return false;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        records_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

}  // namespace larkspin::test
