#pragma once

// Fakes and builders for the URL scheme handler tests.

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Protocol/Schemes/SchemeTask.hpp"

namespace larkspin::test {

// A request that records how it was answered; `webView` is the key of the
// web view that made it.
class FakeSchemeTask final : public SchemeTask {
public:
    explicit FakeSchemeTask(std::optional<std::string> url, WebViewKey webView = 1)
        : url_(std::move(url)), webView_(webView) {}

    WebViewKey webView() const override { return webView_; }
    std::optional<std::string> requestURL() const override { return url_; }
    void respond(SchemeResponse response) override {
        ++answers;
        this->response = std::move(response);
    }
    void fail(SchemeFailure failure) override {
        ++answers;
        this->failure = failure;
    }

    int answers = 0;
    std::optional<SchemeResponse> response;
    std::optional<SchemeFailure> failure;

    std::optional<std::string> header(std::string_view name) const {
        if (!response) return std::nullopt;
        for (const auto& [key, value] : response->headers) {
            if (key == name) return value;
        }
        return std::nullopt;
    }

private:
    std::optional<std::string> url_;
    WebViewKey webView_;
};

// Workers that run nothing until the test says so, on the test's thread.
class ManualWorkers final : public ResourceWorkers {
public:
    bool submit(Job job) override {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        return true;
    }
    std::size_t pending() {
        std::lock_guard lock(mutex_);
        return jobs_.size();
    }
    void runAll() {
        while (true) {
            Job job;
            {
                std::lock_guard lock(mutex_);
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }
    void dropAll() {
        std::lock_guard lock(mutex_);
        jobs_.clear();
    }

private:
    std::mutex mutex_;
    std::deque<Job> jobs_;
};

inline void appendBigEndian32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

// The start of a PNG file with the given size in its IHDR chunk (enough for
// the header reader; not decodable).
inline std::string pngHeader(std::uint32_t width, std::uint32_t height) {
    std::string bytes("\x89PNG\r\n\x1a\n", 8);
    appendBigEndian32(bytes, 13);
    bytes += "IHDR";
    appendBigEndian32(bytes, width);
    appendBigEndian32(bytes, height);
    bytes += std::string("\x08\x06\x00\x00\x00", 5);
    appendBigEndian32(bytes, 0);  // CRC, never checked
    return bytes;
}

// A baseline JPEG start: SOI, an APP0 segment, then a SOF0 frame header.
inline std::string jpegHeader(std::uint16_t width, std::uint16_t height) {
    std::string bytes("\xFF\xD8", 2);
    bytes += std::string("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);
    bytes += std::string("\xFF\xC0\x00\x11\x08", 5);
    bytes.push_back(static_cast<char>(height >> 8));
    bytes.push_back(static_cast<char>(height & 0xFF));
    bytes.push_back(static_cast<char>(width >> 8));
    bytes.push_back(static_cast<char>(width & 0xFF));
    bytes += std::string("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 10);
    return bytes;
}

}  // namespace larkspin::test
