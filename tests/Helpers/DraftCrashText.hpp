#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace larkspin {

// Text number k of the crash helper: its first line names k, the rest is
// filler of a length that varies with k (1 to 64 KiB), so that a text cut or
// mixed with another is told apart from every whole one.
inline std::string crashText(std::int64_t k) {
    std::string text = "text " + std::to_string(k) + "\n";
    const std::size_t size = 1024 + static_cast<std::size_t>((k * 7919) % (63 * 1024));
    std::uint32_t state = static_cast<std::uint32_t>(k) * 2654435761u + 1;
    while (text.size() < size) {
        state = state * 1664525u + 1013904223u;
        text += "第 " + std::to_string(k) + " 版 " + std::to_string(state % 100000) + "\n";
    }
    return text;
}

// k when `text` is exactly crashText(k), else nothing.
inline std::optional<std::int64_t> crashTextNumber(const std::string& text) {
    if (text.rfind("text ", 0) != 0) return std::nullopt;
    const auto end = text.find('\n');
    if (end == std::string::npos) return std::nullopt;
    const std::int64_t k = std::stoll(text.substr(5, end - 5));
    if (crashText(k) != text) return std::nullopt;
    return k;
}

}  // namespace larkspin
