#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Protocol/Navigation/NavigationType.hpp"
#include "Protocol/Payloads/OpenLinkPayload.hpp"

// The two decisions that guard the reader's web view: which navigations it
// may perform (only the renderer's entry page ever loads), and what a clicked
// link means. Pure: no file system, no state; callable from any thread.
namespace larkspin::NavigationPolicy {

// Why a link is refused; `description()` is shown to the user.
struct Rejection {
    enum class Kind { unsupportedScheme, invalidURL, noDocumentDirectory, emptyFragment };

    Kind kind = Kind::invalidURL;
    std::string scheme;  // unsupportedScheme: the scheme in lower case

    static Rejection unsupportedScheme(std::string scheme) {
        return {Kind::unsupportedScheme, std::move(scheme)};
    }
    static Rejection invalidURL() { return {Kind::invalidURL, {}}; }
    static Rejection noDocumentDirectory() { return {Kind::noDocumentDirectory, {}}; }
    static Rejection emptyFragment() { return {Kind::emptyFragment, {}}; }

    // The localised text in the current locale.
    std::string description() const;

    bool operator==(const Rejection&) const = default;
};

// What a clicked link means. Paths are absolute and standardised ("." and
// ".." resolved, no trailing separator but the root's).
struct LinkAction {
    enum class Kind {
        openExternal,      // `url`: hand it to the desktop (web or mail link)
        openMarkdown,      // `file` as a document, at the heading `fragment` when there is one
        scrollToFragment,  // `fragment`: a heading of the current document, never empty
        confirmOpenOther,  // `file`: another local file, opened only after the user agrees
        reject,            // `rejection`
    };

    Kind kind = Kind::reject;
    std::string url;
    std::filesystem::path file;
    std::optional<std::string> fragment;  // never empty when present
    Rejection rejection;

    static LinkAction openExternal(std::string url);
    // An empty fragment is carried as none.
    static LinkAction openMarkdown(std::filesystem::path file, std::optional<std::string> fragment);
    static LinkAction scrollToFragment(std::string id);
    static LinkAction confirmOpenOther(std::filesystem::path file);
    static LinkAction reject(Rejection rejection);

    bool operator==(const LinkAction&) const = default;
};

// `allow`, or `cancel` with a reason for the log (never shown to the user).
struct NavigationDecision {
    enum class Kind { allow, cancel };

    Kind kind = Kind::cancel;
    std::string reason;

    static NavigationDecision allow() { return {Kind::allow, {}}; }
    static NavigationDecision cancel(std::string reason) {
        return {Kind::cancel, std::move(reason)};
    }

    bool operator==(const NavigationDecision&) const = default;
};

// Compared with the candidate in lower case.
inline constexpr std::array<std::string_view, 3> externalSchemes{"http", "https", "mailto"};
inline constexpr std::array<std::string_view, 2> markdownExtensions{"md", "markdown"};

// What a clicked link means. `documentPath` is the current document's file,
// none for a document never saved (only relative links need it). The
// modifiers of the link are not consulted. `link.href` is the destination as
// written: web, mail and file: addresses are percent-encoded
// (encodedLinkDestination) before they are parsed, and openExternal carries
// the encoded address.
LinkAction resolve(const OpenLinkPayload& link,
                   const std::optional<std::filesystem::path>& documentPath);

// None when the text holds no "#"; otherwise everything after the first "#",
// percent-decoded when that succeeds, else as it stands. May be empty.
std::optional<std::string> fragmentID(std::string_view text);

// Exactly the renderer's entry page app-resource://renderer/index.html:
// scheme and host in any letter case, decoded path exactly "/index.html",
// no query and no fragment.
bool isEntryPage(std::string_view url);

// Whether the reader's web view may perform a navigation: only the main frame
// loading (or reloading) the entry page. `hasTargetFrame` false is a request
// for a new window; `isMainFrame` is false without a target frame. An empty
// URL counts as none.
NavigationDecision decideNavigation(const std::optional<std::string>& url, bool isMainFrame,
                                    bool hasTargetFrame, NavigationType navigationType);

}  // namespace larkspin::NavigationPolicy
