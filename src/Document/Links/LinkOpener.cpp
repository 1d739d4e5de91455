#include "Document/Links/LinkOpener.hpp"

#include <exception>
#include <expected>

#include "Document/Links/LinkTargetCheck.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Text/ErrorText.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

namespace {

using NavigationPolicy::LinkAction;

std::string describe(const LinkAction& action) {
    switch (action.kind) {
        case LinkAction::Kind::openExternal:
            return "openExternal(" + action.url + ")";
        case LinkAction::Kind::openMarkdown:
            return "openMarkdown(" + action.file.string() + ", fragment: " +
                   action.fragment.value_or("nil") + ")";
        case LinkAction::Kind::scrollToFragment:
            return "scrollToFragment(" + action.fragment.value_or("") + ")";
        case LinkAction::Kind::confirmOpenOther:
            return "confirmOpenOther(" + action.file.string() + ")";
        case LinkAction::Kind::reject:
            return "reject(" + action.rejection.description() + ")";
    }
    return "?";
}

// The checks stat, open and read the target: on a network mount that has
// stalled that can take for ever, so they run on the shared workers and the
// main thread only awaits them. An error they throw is the refusal's reason.
Task<std::optional<std::string>> verifyTargetAway(std::filesystem::path file, SysCalls sys) {
    auto check = [file = std::move(file), sys = std::move(sys)] {
        return LinkTargetCheck::verifyTarget(file, sys);
    };
    std::optional<std::string> refusal;
    try {
        refusal = co_await runOn(WorkerPool::shared(), std::move(check));
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        refusal = ErrorText::describe(std::current_exception());
    }
    co_return refusal;
}

Task<std::expected<LinkTargetCheck::FileIdentity, std::string>> inspectOtherFileAway(
    std::filesystem::path file, SysCalls sys) {
    auto check = [file = std::move(file), sys = std::move(sys)] {
        return LinkTargetCheck::inspectOtherFile(file, sys);
    };
    std::expected<LinkTargetCheck::FileIdentity, std::string> checked;
    try {
        checked = co_await runOn(WorkerPool::shared(), std::move(check));
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        checked = std::unexpected(ErrorText::describe(std::current_exception()));
    }
    co_return checked;
}

}  // namespace

// ---- Outcome ---------------------------------------------------------------

LinkOpener::Outcome LinkOpener::Outcome::openedExternal(std::string url) {
    Outcome outcome;
    outcome.kind = Kind::openedExternal;
    outcome.url = std::move(url);
    return outcome;
}

LinkOpener::Outcome LinkOpener::Outcome::openedMarkdown(std::filesystem::path file,
                                                        bool alreadyOpen) {
    Outcome outcome;
    outcome.kind = Kind::openedMarkdown;
    outcome.file = std::move(file);
    outcome.alreadyOpen = alreadyOpen;
    return outcome;
}

LinkOpener::Outcome LinkOpener::Outcome::scrolled(std::string id, bool found) {
    Outcome outcome;
    outcome.kind = Kind::scrolled;
    outcome.id = std::move(id);
    outcome.found = found;
    return outcome;
}

LinkOpener::Outcome LinkOpener::Outcome::openedOther(std::filesystem::path file) {
    Outcome outcome;
    outcome.kind = Kind::openedOther;
    outcome.file = std::move(file);
    return outcome;
}

LinkOpener::Outcome LinkOpener::Outcome::cancelled(std::filesystem::path file) {
    Outcome outcome;
    outcome.kind = Kind::cancelled;
    outcome.file = std::move(file);
    return outcome;
}

LinkOpener::Outcome LinkOpener::Outcome::rejected(std::string message) {
    Outcome outcome;
    outcome.kind = Kind::rejected;
    outcome.message = std::move(message);
    return outcome;
}

LinkOpener::Outcome LinkOpener::Outcome::failed(std::string message) {
    Outcome outcome;
    outcome.kind = Kind::failed;
    outcome.message = std::move(message);
    return outcome;
}

std::string LinkOpener::Outcome::description() const {
    switch (kind) {
        case Kind::openedExternal:
            return "openedExternal(" + url + ")";
        case Kind::openedMarkdown:
            return "openedMarkdown(" + file.string() +
                   ", alreadyOpen: " + (alreadyOpen ? "true" : "false") + ")";
        case Kind::scrolled:
            return "scrolled(id: " + id + ", found: " + (found ? "true" : "false") + ")";
        case Kind::openedOther:
            return "openedOther(" + file.string() + ")";
        case Kind::cancelled:
            return "cancelled(" + file.string() + ")";
        case Kind::rejected:
            return "rejected(" + message + ")";
        case Kind::failed:
            return "failed(" + message + ")";
    }
    return "?";
}

// ---- LinkOpener ------------------------------------------------------------

std::shared_ptr<LinkOpener> LinkOpener::create(std::weak_ptr<LinkOpenerDocument> document,
                                               Services services, const SysCalls& sys) {
    return std::shared_ptr<LinkOpener>(new LinkOpener(std::move(document), std::move(services), sys));
}

LinkOpener::LinkOpener(std::weak_ptr<LinkOpenerDocument> document, Services services,
                       const SysCalls& sys)
    : document_(std::move(document)), services_(std::move(services)), sys_(sys) {}

Task<LinkOpener::Outcome> LinkOpener::handle(OpenLinkPayload payload) {
    return run(weak_from_this(), std::move(payload));
}

std::shared_ptr<LinkReader> LinkOpener::reader() const {
    const auto document = document_.lock();
    return document ? document->linkReader() : nullptr;
}

void LinkOpener::showBanner(const std::string& text) const {
    const auto target = reader();
    if (!target) return;  // no reader: the refusal is only in the log
    std::weak_ptr<LinkReader> weak = target;
    // Its own banner only: a newer one (a document's) stays when this one's
    // button comes late.
    auto shown = std::make_shared<LinkReader::BannerID>(0);
    auto hide = [weak, shown] {
        if (auto again = weak.lock()) again->hideBanner(*shown);
    };
    *shown = target->showBanner(text, L10n::text("common.got_it"), hide, hide);
}

LinkOpener::Outcome LinkOpener::reject(const std::string& message,
                                       const std::string& detail) const {
    AppLog::actions.error("链接被拒绝：%{public}s（%{private}s）", message, detail);
    showBanner(L10n::format("link.banner.not_opened", {message, detail}));
    return Outcome::rejected(message);
}

LinkOpener::Outcome LinkOpener::systemOpenFailed(const std::string& what,
                                                 const std::string& reason) const {
    const std::string message = L10n::format("link.failed.system_open", {what});
    AppLog::actions.error("系统未能打开链接：%{private}s（%{private}s）", what, reason);
    // Shown, not only logged: "no application for this type" is common, and
    // a click that silently does nothing looks like a broken link.
    showBanner(L10n::format("link.banner.not_opened",
                            {message, reason.empty() ? L10n::text("link.failed.unknown_reason")
                                                     : reason}));
    return Outcome::failed(message);
}

Task<LinkOpener::Outcome> LinkOpener::run(std::weak_ptr<LinkOpener> weak,
                                          OpenLinkPayload payload) {
    LinkAction action;
    {
        const auto self = weak.lock();
        if (!self) co_return Outcome::failed("链接打开器已释放");
        const auto document = self->document_.lock();
        const std::optional<std::filesystem::path> documentPath =
            document ? document->filePath() : std::nullopt;
        action = NavigationPolicy::resolve(payload, documentPath);
    }
    AppLog::actions.info(
        "openLink kind=%{public}s href=%{private}s modifiers=cmd:%{bool}d opt:%{bool}d "
        "shift:%{bool}d → %{private}s",
        rawValue(payload.kind), payload.href, payload.modifiers.command, payload.modifiers.option,
        payload.modifiers.shift, describe(action));

    Outcome outcome;
    if (action.kind == LinkAction::Kind::openExternal) {
        outcome = co_await openExternal(weak, action.url, payload.href);
    } else if (action.kind == LinkAction::Kind::openMarkdown) {
        outcome = co_await openMarkdown(weak, action.file, action.fragment);
    } else if (action.kind == LinkAction::Kind::scrollToFragment) {
        outcome = co_await scroll(weak, action.fragment.value_or(""));
    } else if (action.kind == LinkAction::Kind::confirmOpenOther) {
        outcome = co_await openOther(weak, action.file);
    } else if (const auto self = weak.lock()) {
        outcome = self->reject(action.rejection.description(), payload.href);
    } else {
        outcome = Outcome::rejected(action.rejection.description());
    }
    AppLog::actions.info("openLink 结果：%{private}s", outcome.description());
    co_return outcome;
}

Task<LinkOpener::Outcome> LinkOpener::openExternal(std::weak_ptr<LinkOpener> weak, std::string url,
                                                   std::string href) {
    std::shared_ptr<DefaultApplicationLauncher> launcher;
    {
        const auto self = weak.lock();
        if (!self) co_return Outcome::failed("链接打开器已释放");
        if (LinkTargetCheck::mailtoCarriesAttachment(url)) {
            co_return self->reject(L10n::text("link.reject.mail_attachment"), href);
        }
        launcher = self->services_.launcher;
    }
    if (!launcher) co_return Outcome::failed(L10n::format("link.failed.system_open", {url}));
    const DefaultApplicationLauncher::Result result = co_await launcher->launch(url);
    if (result.launched) co_return Outcome::openedExternal(url);
    const auto self = weak.lock();
    if (!self) co_return Outcome::failed(L10n::format("link.failed.system_open", {url}));
    co_return self->systemOpenFailed(url, result.error);
}

Task<LinkOpener::Outcome> LinkOpener::scroll(std::weak_ptr<LinkOpener> weak, std::string id) {
    std::optional<Task<ScrolledPayload>> request;
    {
        const auto self = weak.lock();
        const auto target = self ? self->reader() : nullptr;
        if (!target) co_return Outcome::failed("没有阅读视图");
        request.emplace(target->scrollToHeading(id));
    }
    ScrolledPayload reply;
    std::exception_ptr error;
    try {
        reply = co_await std::move(*request);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        error = std::current_exception();
    }
    if (error) co_return Outcome::failed("scrollToHeading 失败：" + ErrorText::describe(error));
    if (reply.found) co_return Outcome::scrolled(id, true);
    const auto self = weak.lock();
    if (!self) co_return Outcome::rejected(L10n::text("link.reject.no_heading"));
    co_return self->reject(L10n::text("link.reject.no_heading"), "#" + id);
}

Task<LinkOpener::Outcome> LinkOpener::openMarkdown(std::weak_ptr<LinkOpener> weak,
                                                   std::filesystem::path file,
                                                   std::optional<std::string> fragment) {
    const std::string name = LinkTargetCheck::displayName(file);
    SysCalls sys;
    {
        const auto self = weak.lock();
        if (!self) co_return Outcome::failed("链接打开器已释放");
        sys = self->sys_;
    }
    std::shared_ptr<DocumentOpener> documents;
    const std::optional<std::string> refusal = co_await verifyTargetAway(file, std::move(sys));
    {
        const auto self = weak.lock();
        if (!self) co_return Outcome::failed("链接打开器已释放");
        if (refusal) co_return self->reject(*refusal, name);
        documents = self->services_.documents;
    }
    if (!documents) co_return Outcome::failed("没有文档控制器");
    DocumentOpener::Opened opened;
    std::exception_ptr error;
    try {
        opened = co_await documents->openDocument(file, true);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        error = std::current_exception();
    }
    if (error) {
        const std::string reason = ErrorText::describe(error);
        AppLog::actions.error("打开本地链接失败：%{private}s", reason);
        if (const auto self = weak.lock()) {
            self->showBanner(L10n::format("link.banner.not_opened", {name, reason}));
        }
        co_return Outcome::failed(reason);
    }
    if (fragment && opened.document) opened.document->scrollToFragment(*fragment);
    co_return Outcome::openedMarkdown(file, opened.alreadyOpen);
}

Task<LinkOpener::Outcome> LinkOpener::openOther(std::weak_ptr<LinkOpener> weak,
                                                std::filesystem::path file) {
    const std::string name = LinkTargetCheck::displayName(file);
    SysCalls sys;
    {
        const auto self = weak.lock();
        if (!self) co_return Outcome::failed("链接打开器已释放");
        sys = self->sys_;
    }
    LinkTargetCheck::FileIdentity asked;
    const auto checked = co_await inspectOtherFileAway(file, sys);
    std::shared_ptr<OpenConfirmation> confirmation;
    OpenConfirmation::Question question;
    {
        const auto self = weak.lock();
        if (!self) co_return Outcome::failed("链接打开器已释放");
        if (!checked) co_return self->reject(checked.error(), name);
        asked = *checked;
        confirmation = self->services_.confirmation;
        question.heading = L10n::format("link.open_other.title", {name});
        // The folder as well: a relative link can lead anywhere.
        question.body = L10n::text("link.open_other.message") + "\n\n" +
                        L10n::format("link.open_other.folder",
                                     {LinkTargetCheck::displayFolder(file)});
        question.openLabel = L10n::text("common.open");
        question.cancelLabel = L10n::text("common.cancel");
    }
    if (!confirmation) co_return Outcome::cancelled(file);  // never open unasked
    bool confirmed = false;
    try {
        confirmed = co_await confirmation->confirm(std::move(question));
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        confirmed = false;  // a dialog that went away answered nothing
    }
    if (!confirmed) co_return Outcome::cancelled(file);

    // The question may have stood for minutes: look again, and insist on the
    // very file the user was asked about.
    if (!weak.lock()) co_return Outcome::cancelled(file);
    const auto again = co_await inspectOtherFileAway(file, std::move(sys));
    std::shared_ptr<DefaultApplicationLauncher> launcher;
    {
        const auto self = weak.lock();
        if (!self) co_return Outcome::cancelled(file);
        if (!again) co_return self->reject(again.error(), name);
        if (*again != asked) {
            co_return self->reject(L10n::text("link.reject.target_changed"), name);
        }
        launcher = self->services_.launcher;
    }
    if (!launcher) co_return Outcome::failed(L10n::format("link.failed.system_open", {name}));
    const std::string uri = LinkTargetCheck::fileURI(file);
    const DefaultApplicationLauncher::Result result = co_await launcher->launch(uri);
    if (result.launched) co_return Outcome::openedOther(file);
    const auto self = weak.lock();
    if (!self) co_return Outcome::failed(L10n::format("link.failed.system_open", {name}));
    co_return self->systemOpenFailed(name, result.error);
}

}  // namespace larkspin
