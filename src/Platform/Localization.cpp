#include "Platform/Localization.hpp"

#include <mutex>
#include <set>
#include <vector>

#include "Platform/Log.hpp"
#include "Platform/LocalizableTable.hpp"

namespace larkspin::L10n {

namespace {
void reportMissing(std::string_view key) {
    static std::mutex mutex;
    static std::set<std::string, std::less<>> reported;
    {
        std::lock_guard lock(mutex);
        if (!reported.emplace(key).second) return;
    }
    AppLog::actions.fault("本地化文本缺失：%{public}s", key);
}
}  // namespace

std::string text(std::string_view key) {
    if (const auto* value = detail::lookup(key)) return std::string(*value);
    reportMissing(key);
    return std::string(key);
}

bool contains(std::string_view key) { return detail::lookup(key) != nullptr; }

std::string substitute(std::string_view pattern, std::initializer_list<std::string_view> args) {
    const std::vector<std::string_view> list(args);
    std::string out;
    out.reserve(pattern.size() + 32);
    std::size_t next = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c != '%' || i + 1 >= pattern.size()) {
            out.push_back(c);
            continue;
        }
        if (pattern[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        // Optional positional index "N$".
        std::size_t j = i + 1;
        std::size_t position = 0;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') {
            position = position * 10 + static_cast<std::size_t>(pattern[j] - '0');
            ++j;
        }
        bool positional = false;
        if (position > 0 && j < pattern.size() && pattern[j] == '$') {
            positional = true;
            ++j;
        } else {
            j = i + 1;
        }
        while (j < pattern.size() && pattern[j] == 'l') ++j;
        if (j >= pattern.size() || (pattern[j] != '@' && pattern[j] != 'd' && pattern[j] != 's')) {
            out.push_back(c);  // not a placeholder we know: keep it literally
            continue;
        }
        const std::size_t index = positional ? position - 1 : next++;
        if (index < list.size()) out.append(list[index]);
        i = j;
    }
    return out;
}

std::string format(std::string_view key, std::initializer_list<std::string_view> args) {
    return substitute(text(key), args);
}

}  // namespace larkspin::L10n
