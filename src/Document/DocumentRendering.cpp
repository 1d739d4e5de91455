#include "Document/DocumentRendering.hpp"

#include <memory>
#include <utility>

#include "Document/Document.hpp"
#include "Document/RenderTier.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

DocumentRendering::DocumentRendering(Document& document, bool sandboxed)
    : document_(document), sandboxed_(sandboxed) {}

void DocumentRendering::showDismissableBanner(std::string message, std::uint64_t& slot) {
    const std::shared_ptr<DocumentReader>& reader = document_.reader();
    if (!reader) return;
    std::weak_ptr<DocumentReader> weakReader = reader;
    auto banner = std::make_shared<std::uint64_t>(0);
    auto hide = [weakReader, banner] {
        if (auto shown = weakReader.lock()) shown->hideBanner(*banner);
    };
    *banner = reader->showBanner(std::move(message), L10n::text("common.got_it"), hide, hide);
    slot = *banner;
}

void DocumentRendering::startRendering() {
    const std::shared_ptr<DocumentReader>& reader = document_.reader();
    if (!reader) return;
    const LoadedDocument& loaded = document_.loaded();
    const RenderPlan plan = planRendering(loaded);
    if (tierBanner_) reader->hideBanner(tierBanner_);
    tierBanner_ = 0;
    isReducedRendering_ = false;
    switch (plan.kind) {
        case RenderPlan::Kind::failure:
            AppLog::document.error("文档 doc=%{public}s %{private}s 读取失败：%{private}s", document_.logID(),
                                   document_.displayName(), plan.status->detail);
            reader->showDocumentStatus(*plan.status);
            return;
        case RenderPlan::Kind::restricted:
            AppLog::document.info("文档 doc=%{public}s %{private}s %{public}s MiB 超过受限阅读阈值，不进 WebView",
                                  document_.logID(), document_.displayName(), formatMebibytes(loaded.byteCount));
            reader->showDocumentStatus(*plan.status);
            return;
        case RenderPlan::Kind::large:
            isReducedRendering_ = true;
            AppLog::document.info(
                "文档 doc=%{public}s %{private}s %{public}s MiB 超过精简阈值，关闭高亮 / 公式 / 图表",
                document_.logID(), document_.displayName(), formatMebibytes(loaded.byteCount));
            break;
        case RenderPlan::Kind::normal:
            break;
    }
    reader->hideDocumentStatus();
    reader->render(document_.model().sharedSourceText(), plan.enhancements);
    if (!plan.banner) return;
    if (plan.banner->action == RenderBanner::Action::dismiss) {
        showDismissableBanner(plan.banner->message, tierBanner_);
        return;
    }
    std::weak_ptr<Document> weak = document_.weak_from_this();
    std::weak_ptr<DocumentReader> weakReader = reader;
    auto banner = std::make_shared<std::uint64_t>(0);
    auto renderFully = [weak] {
        if (auto document = weak.lock()) document->rendering().enableFullRendering();
    };
    auto dismiss = [weakReader, banner] {
        if (auto shown = weakReader.lock()) shown->hideBanner(*banner);
    };
    *banner = reader->showBanner(plan.banner->message, plan.banner->actionTitle, renderFully, dismiss);
    tierBanner_ = *banner;
}

void DocumentRendering::enableFullRendering() {
    const std::shared_ptr<DocumentReader>& reader = document_.reader();
    if (!reader || !isReducedRendering_) return;
    isReducedRendering_ = false;
    AppLog::document.info("文档 doc=%{public}s %{private}s 用户要求完整渲染（高亮 / 公式 / 图表）",
                          document_.logID(), document_.displayName());
    if (tierBanner_) reader->hideBanner(tierBanner_);
    tierBanner_ = 0;
    reader->render(document_.model().sharedSourceText(), RenderEnhancements{true, true, true});
}

void DocumentRendering::syncDegradationBanner(std::optional<std::string> degraded) {
    const std::shared_ptr<DocumentReader>& reader = document_.reader();
    if (!reader) return;
    if (degraded) {
        degradationBannerMessage_ = degraded;
        showDismissableBanner(std::move(*degraded), degradationBanner_);
        return;
    }
    if (!degradationBannerMessage_) return;
    degradationBannerMessage_.reset();
    // Only our own banner goes: a newer one (the large-file banner) stays.
    if (degradationBanner_) reader->hideBanner(degradationBanner_);
    degradationBanner_ = 0;
}

void DocumentRendering::showAccessDeniedBanner(const std::string& path) {
    if (accessDeniedBannerShown_ || !document_.reader()) return;
    accessDeniedBannerShown_ = true;
    AppLog::document.info("文档 doc=%{public}s %{private}s 图片被拒绝读取：%{private}s，显示提示条",
                          document_.logID(), document_.displayName(), path);
    showDismissableBanner(accessDeniedBannerMessage(sandboxed_), accessBanner_);
}

void DocumentRendering::showCloseFailure(std::string message) {
    showDismissableBanner(std::move(message), closeFailureBanner_);
}

}  // namespace larkspin
