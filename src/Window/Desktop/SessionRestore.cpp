#include "Window/Desktop/SessionRestore.hpp"

#include <gtk/gtk.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/FileNameText.hpp"
#include "Window/SessionPlanner.hpp"
#include "Window/SessionStore.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"
#include "Window/Widgets/TabGroups.hpp"

namespace larkspin {

namespace {

constexpr Logger shell{"shell"};

}  // namespace

SessionRestore::SessionRestore(Dependencies dependencies, const std::multiset<std::string>& beingOpened)
    : dependencies_(std::move(dependencies)), beingOpened_(beingOpened) {
    if (!dependencies_.queue || !dependencies_.documents || !dependencies_.placePage)
        throw std::invalid_argument("session restore: queue, documents and placePage");
}

Task<void> SessionRestore::run() {
    SessionSnapshot snapshot;
    try {
        snapshot = co_await SessionStore::load(dependencies_.folder, dependencies_.queue);
    } catch (const std::exception& error) {
        rethrowIfCancelled(std::current_exception());
        shell.error("会话读取失败：%{public}s", std::string(error.what()));
    }
    if (snapshot.empty()) co_return;
    // Which files are still there is asked off the main thread.
    auto check = [paths = SessionPlanner::paths(snapshot)] {
        std::set<std::string> existing;
        for (const auto& path : paths) {
            std::error_code error;
            if (std::filesystem::is_regular_file(path, error)) existing.insert(path);
        }
        return existing;
    };
    const std::set<std::string> existing = co_await runOn(WorkerPool::shared(), std::move(check));

    // Files open already come back as they are; files being opened are the
    // command line's.
    const std::set<std::string> alreadyOpen(beingOpened_.begin(), beingOpened_.end());
    const SessionPlan plan = SessionPlanner::plan(snapshot, existing, alreadyOpen);

    // Every document is read first; then each window is laid out in full and
    // shown once: its pages in order, its selection, its size.
    struct Opening {
        std::shared_ptr<OpenedDocument> document;
        bool selected = false;
    };
    std::vector<std::vector<Opening>> groups;
    std::size_t count = 0;
    for (const PlannedGroup& planned : plan.groups) {
        std::vector<Opening> pages;
        for (std::size_t index = 0; index < planned.paths.size(); ++index) {
            const std::string path = planned.paths[index];
            if (beingOpened_.contains(path)) continue;
            DocumentOpener::Opened opened;
            try {
                opened = co_await dependencies_.documents->openDocument(path, false);
            } catch (const std::exception& error) {
                rethrowIfCancelled(std::current_exception());
                AppLog::document.error("会话恢复：打开 %{private}s 失败：%{private}s",
                                       FileNameText::baseName(path), std::string(error.what()));
                continue;
            }
            // Opened meanwhile by the command line or the draft restore: its
            // page is theirs.
            if (!opened.document || opened.alreadyOpen) continue;
            pages.push_back(Opening{opened.document, index == planned.selected});
        }
        groups.push_back(std::move(pages));
    }
    std::size_t windows = 0;
    for (std::size_t index = 0; index < groups.size(); ++index) {
        std::vector<Opening>& pages = groups[index];
        if (pages.empty()) continue;
        const bool anySelected =
            std::any_of(pages.begin(), pages.end(), [](const Opening& page) { return page.selected; });
        if (!anySelected) pages.front().selected = true;
        const PlannedGroup& planned = plan.groups[index];
        TabGroupWindow& group = TabGroupWindow::create(dependencies_.groups, dependencies_.application,
                                                       dependencies_.sessionChanges);
        gtk_window_set_default_size(group.window(), static_cast<int>(planned.width),
                                    static_cast<int>(planned.height));
        for (const Opening& page : pages) dependencies_.placePage(*page.document, group, page.selected);
        gtk_window_present(group.window());
        ++windows;
        count += pages.size();
    }
    shell.info("会话已恢复：%ld 个窗口，%ld 份文档，%ld 个文件已不在", static_cast<long>(windows),
               static_cast<long>(count), static_cast<long>(plan.missing.size()));
}

}  // namespace larkspin
