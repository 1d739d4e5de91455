#include "App/RecentFiles.hpp"

#include <algorithm>
#include <set>

namespace larkspin::RecentFiles {

bool isReadable(std::string_view mimeType) {
    return mimeType == "text/markdown" || mimeType == "text/x-markdown" ||
           mimeType == "text/plain";
}

std::vector<std::filesystem::path> menuEntries(std::vector<RecentEntry> entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const RecentEntry& a, const RecentEntry& b) { return a.modified > b.modified; });
    std::vector<std::filesystem::path> paths;
    std::set<std::filesystem::path> seen;
    for (const auto& entry : entries) {
        if (paths.size() == limit) break;
        if (entry.path.empty() || !entry.path.is_absolute()) continue;
        if (!entry.registeredByUs && !isReadable(entry.mimeType)) continue;
        if (!seen.insert(entry.path.lexically_normal()).second) continue;
        paths.push_back(entry.path);
    }
    return paths;
}

}  // namespace larkspin::RecentFiles
