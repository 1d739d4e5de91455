#include "Document/RenderTier.hpp"

#include <cstdio>

#include "Platform/Localization.hpp"

namespace larkspin {

std::string formatMebibytes(std::int64_t bytes) {
    // Tenths of a MiB, rounded half away from zero, in integers: printf's
    // "%.1f" would follow LC_NUMERIC.
    const double tenths = static_cast<double>(bytes) * 10.0 / 1048576.0;
    const auto rounded = static_cast<std::int64_t>(tenths < 0 ? tenths - 0.5 : tenths + 0.5);
    const std::int64_t whole = rounded / 10;
    const std::int64_t fraction = rounded % 10 < 0 ? -(rounded % 10) : rounded % 10;
    return std::to_string(whole) + "." + std::to_string(fraction);
}

RenderPlan planRendering(const LoadedDocument& loaded) {
    RenderPlan plan;
    if (loaded.failure) {
        plan.kind = RenderPlan::Kind::failure;
        plan.status = DocumentStatusContent{loaded.failure->title(), loaded.failure->detail(),
                                            std::nullopt, std::nullopt};
        return plan;
    }
    const std::optional<std::string> notice = loaded.encodingNotice();
    switch (loaded.tier) {
        case DocumentSizeTier::normal:
            plan.kind = RenderPlan::Kind::normal;
            plan.renders = true;
            if (notice)
                plan.banner = RenderBanner{*notice, L10n::text("common.got_it"),
                                           RenderBanner::Action::dismiss};
            break;
        case DocumentSizeTier::large: {
            plan.kind = RenderPlan::Kind::large;
            plan.renders = true;
            plan.enhancements = RenderEnhancements{false, false, false};
            std::string message =
                L10n::format("banner.large_file.message", {formatMebibytes(loaded.byteCount)});
            if (notice) message += " " + *notice;
            plan.banner = RenderBanner{std::move(message), L10n::text("banner.large_file.render_full"),
                                       RenderBanner::Action::renderFully};
            break;
        }
        case DocumentSizeTier::restricted:
            plan.kind = RenderPlan::Kind::restricted;
            plan.status = DocumentStatusContent{
                L10n::text("status.restricted.title"),
                L10n::format("status.restricted.detail",
                             {formatMebibytes(loaded.byteCount),
                              std::to_string(restrictedDocumentThreshold / 1048576),
                              std::to_string(restrictedPreviewBytes / 1048576)}),
                loaded.preview.value_or(std::string()), std::nullopt};
            break;
    }
    return plan;
}

std::string accessDeniedBannerMessage(bool sandboxed) {
    return L10n::text(sandboxed ? "banner.tcc.message_sandbox" : "banner.tcc.message");
}

}  // namespace larkspin
