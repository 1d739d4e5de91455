#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Reader/ProcessRecoveryAction.hpp"
#include "Reader/WebViewBudget.hpp"

namespace larkspin {

// What the working set needs of a tab page: the reader's document
// identifier, whether the reader holds a web view, whether the page is
// selected in its window and whether it shows the editor (asked each time,
// never copied), and the release and rebuild of that web view.
class WebViewWorkingSetMember {
public:
    virtual ~WebViewWorkingSetMember() = default;
    virtual std::string readerDocumentID() const = 0;
    virtual bool readerHasWebView() const = 0;
    virtual bool isSelectedInWindow() const = 0;
    virtual bool isEditing() const = 0;
    // True when a web view was given back.
    virtual Task<bool> releaseReader() = 0;
    // True when a new web view was built.
    virtual bool rebuildReader() = 0;
};

// The application's set of documents that keep a live reader web view. It
// binds a `WebViewBudget` to the tab pages (held weakly) and carries out its
// decisions: a page that becomes selected with its reader showing gets its
// web view back at once, and the pages it evicts give theirs up afterwards,
// each in a task of its own. Main thread.
class WebViewWorkingSet : public std::enable_shared_from_this<WebViewWorkingSet> {
public:
    using Member = WebViewWorkingSetMember;

    static constexpr std::int64_t defaultHotLimit = 3;
    static constexpr const char* hotLimitKey = "MDWebViewHotLimit";

    // The limit for a stored "MDWebViewHotLimit": missing or below 1 gives
    // the default.
    static std::int64_t configuredHotLimit(std::optional<std::int64_t> stored);
    // A set whose limit is `hotLimit` raised to at least 1.
    static std::shared_ptr<WebViewWorkingSet> create(std::int64_t hotLimit);

    // A new page: hot when its reader already holds a web view.
    void registerMember(const std::shared_ptr<Member>& member);
    // The page became selected (`wantsHot`: it shows its reader), returned
    // to reading mode, or its crash recovery decided to rebuild.
    void activate(const std::shared_ptr<Member>& member, bool wantsHot);
    // The page closed.
    void unregister(const Member& member);

    // The one decider of crash rebuilds, told a reader's report after its
    // web content process ended. A rebuild happens only for the page
    // selected in its window in reading mode; any other page rebuilds
    // through `activate` when it becomes selected, so that a background
    // crash never makes its page the most recent one and evicts the page
    // being read.
    void handleProcessRecovery(const std::shared_ptr<Member>& member, ProcessRecoveryAction action);

    const WebViewBudget& budget() const { return budget_; }
    // The document's reader holds a web view that is not being given up.
    bool isHot(const std::string& id) const;
    // Web views actually released for an eviction, and rebuilt on activation.
    std::int64_t releaseCount() const { return releaseCount_; }
    std::int64_t rebuildCount() const { return rebuildCount_; }

private:
    explicit WebViewWorkingSet(std::int64_t hotLimit) : budget_(hotLimit) {}

    void apply(const std::vector<std::string>& release);
    void forgetClosedPages();
    WebViewBudget::Facts facts() const;
    std::shared_ptr<Member> member(const std::string& id) const;
    Task<void> releaseMember(std::weak_ptr<Member> weakMember, std::string id);

    WebViewBudget budget_;
    std::map<std::string, std::weak_ptr<Member>> members_;
    std::set<std::string> releasing_;  // web views being given up
    std::int64_t releaseCount_ = 0;
    std::int64_t rebuildCount_ = 0;
    TaskScope tasks_;  // last: its releases end first
};

}  // namespace larkspin
