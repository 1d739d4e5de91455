#include "Document/NoticeContent.hpp"

#include <glib.h>

#include "Platform/Localization.hpp"

namespace larkspin {

namespace {

using Content = NoticeBarContent;
using Action = NoticeBarContent::Action;

Action action(std::string_view key, const std::function<void()>& handler, bool destructive = false) {
    return Action{L10n::text(key), destructive, handler};
}

// What an untitled document holding a recovered draft says about its file.
std::string_view setAsideKey(DraftSetAside setAside) {
    switch (setAside) {
        case DraftSetAside::sourceGone: return "bar.missing.recovered";
        case DraftSetAside::sourceChanged: return "bar.set_aside.changed";
        case DraftSetAside::sourceReadOnly: return "bar.set_aside.read_only";
        case DraftSetAside::sourceTaken: return "bar.set_aside.taken";
    }
    return "bar.missing.recovered";
}

}  // namespace

std::string formatNoticeDate(std::chrono::system_clock::time_point date) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(date.time_since_epoch()).count();
    GDateTime* utc = g_date_time_new_from_unix_utc(seconds);
    if (!utc) return {};
    GDateTime* local = g_date_time_to_local(utc);
    g_date_time_unref(utc);
    if (!local) return {};
    // The locale's own date, then hours and minutes: "%X" would add seconds.
    gchar* text = g_date_time_format(local, "%x %H:%M");
    g_date_time_unref(local);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

NoticeBarContent noticeContent(const ExternalIssue& issue, NoticeContext context,
                               const NoticeHandlers& handlers) {
    const bool clean = context.hasFile && !context.isDirty;
    const Action save = action(clean ? "bar.action.save_copy" : "bar.action.save_as",
                               handlers.saveElsewhere);

    struct Visitor {
        const NoticeContext& context;
        const NoticeHandlers& handlers;
        const Action& save;

        Content operator()(const ExternalIssue::Conflict&) const {
            return {Content::Tone::warning, L10n::text("bar.conflict.message"),
                    {action("bar.action.reload", handlers.reloadDiscarding, true),
                     action("bar.action.keep_mine", handlers.keepMine), save},
                    ExternalIssueKind::conflict};
        }
        Content operator()(const ExternalIssue::ExternalChanged&) const {
            return {Content::Tone::info, L10n::text("bar.external_changed.message"),
                    {action("bar.action.reload", handlers.acceptExternal)},
                    ExternalIssueKind::externalChanged};
        }
        Content operator()(const ExternalIssue::Unreadable& issue) const {
            if (issue.failure.kind == DocumentLoadFailure::Kind::permissionDenied)
                return {Content::Tone::error, L10n::text("bar.permission.message"),
                        {action("bar.action.reauthorize", handlers.relocate), save},
                        ExternalIssueKind::permission};
            return {Content::Tone::error,
                    L10n::format("bar.unreadable.message", {issue.failure.title()}),
                    {action("common.retry", handlers.sampleAgain), save},
                    ExternalIssueKind::unreadable};
        }
        Content operator()(const ExternalIssue::SaveFailed& issue) const {
            // Never "unchanged" about a file the save replaced.
            const char* key = issue.originalReplaced ? "save.error.failed_replaced" : "save.error.failed";
            return {Content::Tone::error, L10n::format(key, {issue.text}),
                    {action("common.retry", handlers.retrySave), save},
                    ExternalIssueKind::saveFailed};
        }
        Content operator()(const ExternalIssue::Recovered& issue) const {
            return {Content::Tone::info,
                    L10n::format("bar.recovered.message", {formatNoticeDate(issue.draftUpdated)}),
                    {action("common.got_it", handlers.dismissRecovered)},
                    ExternalIssueKind::recovered};
        }
        Content operator()(const ExternalIssue::Missing& issue) const {
            if (!context.hasFile)
                return {Content::Tone::error, L10n::text(setAsideKey(issue.setAside)), {save},
                        ExternalIssueKind::missing};
            return {Content::Tone::error,
                    L10n::text(context.isDirty ? "bar.missing.dirty" : "bar.missing.clean"),
                    {save, action("bar.action.relocate", handlers.relocate)},
                    ExternalIssueKind::missing};
        }
    };
    return std::visit(Visitor{context, handlers, save}, issue.value);
}

}  // namespace larkspin
