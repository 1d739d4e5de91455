#include "App/DraftRestore.hpp"

#include <exception>
#include <utility>
#include <vector>

#include "Document/RecoveryLaunch.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

DraftRestore::DraftRestore(std::shared_ptr<RecoveryStore> store, std::shared_ptr<DocumentOpener> documents,
                           std::filesystem::path preferencesFolder)
    : store_(std::move(store)), documents_(std::move(documents)), preferencesFolder_(std::move(preferencesFolder)) {}

Task<void> DraftRestore::run() {
    try {
        std::vector<std::filesystem::path> otherFolders{preferencesFolder_};
        auto restored = co_await RecoveryLaunch::restoreUnresolvedDrafts(store_, documents_, std::move(otherFolders));
        if (!restored.empty()) {
            AppLog::recovery.info("启动恢复完成：%ld 份文档", static_cast<long>(restored.size()));
        }
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        AppLog::recovery.error("启动恢复失败");
    }
}

}  // namespace larkspin
