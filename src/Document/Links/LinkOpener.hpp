#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Async/Task.hpp"
#include "Platform/Files/SysCalls.hpp"
#include "Protocol/Navigation/NavigationPolicy.hpp"
#include "Protocol/Payloads/OpenLinkPayload.hpp"
#include "Document/DocumentOpening.hpp"
#include "Document/Links/LinkOpenerSeams.hpp"

namespace larkspin {

// Carries out a link that the user clicked in a rendered document: a web or
// mail address goes to its default application, another Markdown file opens
// as a document (scrolled to its fragment), a fragment scrolls this
// document's reader, and any other local file goes to its default
// application once the user has agreed. Programs, scripts, launchers and
// installers are never handed on, and nothing but a regular file is.
//
// Everything the user sees (the application starting, a document, a scroll,
// the question, a banner in the reader) happens in here; the returned
// outcome is for the log and for tests. Each link is handled on its own,
// from the document's current file and reader.
//
// One per document, which it holds weakly. Main thread. Create with `create`.
class LinkOpener : public std::enable_shared_from_this<LinkOpener> {
public:
    // The result of acting on a link.
    struct Outcome {
        enum class Kind {
            openedExternal,  // `url` went to its default application
            openedMarkdown,  // `file` opened as a document; `alreadyOpen`
            scrolled,        // the reader scrolled to the heading `id` (`found` is true)
            openedOther,     // `file` went to its default application after the question
            cancelled,       // the user did not open `file`
            rejected,        // refused; `message` is the reason shown to the user
            failed,          // tried and did not work; `message`
        };

        Kind kind = Kind::failed;
        std::string url;
        std::filesystem::path file;
        bool alreadyOpen = false;
        std::string id;
        bool found = false;
        std::string message;

        static Outcome openedExternal(std::string url);
        static Outcome openedMarkdown(std::filesystem::path file, bool alreadyOpen);
        static Outcome scrolled(std::string id, bool found);
        static Outcome openedOther(std::filesystem::path file);
        static Outcome cancelled(std::filesystem::path file);
        static Outcome rejected(std::string message);
        static Outcome failed(std::string message);

        // For the log.
        std::string description() const;

        bool operator==(const Outcome&) const = default;
    };

    // The program's services the opener hands links to; any may be null,
    // and a link that needs a missing one fails (or, for the question, is
    // cancelled).
    struct Services {
        std::shared_ptr<DocumentOpener> documents;
        std::shared_ptr<OpenConfirmation> confirmation;
        std::shared_ptr<DefaultApplicationLauncher> launcher;
    };

    static std::shared_ptr<LinkOpener> create(std::weak_ptr<LinkOpenerDocument> document,
                                              Services services,
                                              const SysCalls& sys = realSysCalls());
    LinkOpener(const LinkOpener&) = delete;
    LinkOpener& operator=(const LinkOpener&) = delete;

    // The only entry point: the page's open-link payload as it came. Never
    // throws.
    Task<Outcome> handle(OpenLinkPayload payload);

private:
    LinkOpener(std::weak_ptr<LinkOpenerDocument> document, Services services, const SysCalls& sys);

    static Task<Outcome> run(std::weak_ptr<LinkOpener> weak, OpenLinkPayload payload);
    static Task<Outcome> openExternal(std::weak_ptr<LinkOpener> weak, std::string url,
                                      std::string href);
    static Task<Outcome> scroll(std::weak_ptr<LinkOpener> weak, std::string id);
    static Task<Outcome> openMarkdown(std::weak_ptr<LinkOpener> weak, std::filesystem::path file,
                                      std::optional<std::string> fragment);
    static Task<Outcome> openOther(std::weak_ptr<LinkOpener> weak, std::filesystem::path file);

    Outcome reject(const std::string& message, const std::string& detail) const;
    Outcome systemOpenFailed(const std::string& what, const std::string& reason) const;
    void showBanner(const std::string& text) const;
    std::shared_ptr<LinkReader> reader() const;

    std::weak_ptr<LinkOpenerDocument> document_;
    Services services_;
    SysCalls sys_;
};

}  // namespace larkspin
