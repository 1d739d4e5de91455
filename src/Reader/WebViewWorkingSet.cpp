#include "Reader/WebViewWorkingSet.hpp"

#include "Platform/Async/MainThread.hpp"

namespace larkspin {

std::int64_t WebViewWorkingSet::configuredHotLimit(std::optional<std::int64_t> stored) {
    return stored && *stored >= 1 ? *stored : defaultHotLimit;
}

std::shared_ptr<WebViewWorkingSet> WebViewWorkingSet::create(std::int64_t hotLimit) {
    return std::shared_ptr<WebViewWorkingSet>(new WebViewWorkingSet(hotLimit));
}

std::shared_ptr<WebViewWorkingSet::Member> WebViewWorkingSet::member(const std::string& id) const {
    const auto found = members_.find(id);
    return found == members_.end() ? nullptr : found->second.lock();
}

bool WebViewWorkingSet::isHot(const std::string& id) const {
    if (releasing_.contains(id)) return false;
    const auto page = member(id);
    return page && page->readerHasWebView();
}

WebViewBudget::Facts WebViewWorkingSet::facts() const {
    WebViewBudget::Facts facts;
    facts.isHot = [this](const std::string& id) { return isHot(id); };
    facts.isEditing = [this](const std::string& id) {
        const auto page = member(id);
        return page && page->isEditing();
    };
    facts.isBeingRead = [this](const std::string& id) {
        const auto page = member(id);
        return page && page->isSelectedInWindow() && !page->isEditing();
    };
    return facts;
}

void WebViewWorkingSet::registerMember(const std::shared_ptr<Member>& member) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const std::string id = member->readerDocumentID();
    members_[id] = member;
    releasing_.erase(id);
    ++budget_.clock;
    budget_.entries.insert_or_assign(id, WebViewBudget::Entry{id, budget_.clock});
    apply(isHot(id) ? budget_.evict(id, facts()) : std::vector<std::string>{});
}

void WebViewWorkingSet::activate(const std::shared_ptr<Member>& member, bool wantsHot) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const std::string id = member->readerDocumentID();
    members_[id] = member;
    forgetClosedPages();
    // The activated document gets its web view before the evicted ones give
    // theirs up; a release of its own still capturing its anchor says no.
    if (wantsHot) {
        releasing_.erase(id);
        if (member->rebuildReader()) ++rebuildCount_;
    }
    const WebViewBudget::Plan plan = budget_.activate(id, wantsHot, facts());
    apply(plan.release);
}

void WebViewWorkingSet::unregister(const Member& member) {
    const std::string id = member.readerDocumentID();
    members_.erase(id);
    releasing_.erase(id);
    budget_.entries.erase(id);
}

void WebViewWorkingSet::handleProcessRecovery(const std::shared_ptr<Member>& member,
                                              ProcessRecoveryAction action) {
    switch (action) {
        case ProcessRecoveryAction::rebuild:
            // Any other page gets its web view back when next shown.
            if (member->isSelectedInWindow() && !member->isEditing()) activate(member, true);
            return;
        case ProcessRecoveryAction::crashLoop:
            return;  // no web view until the user retries
        case ProcessRecoveryAction::retry:
            activate(member, true);
            return;
    }
}

void WebViewWorkingSet::forgetClosedPages() {
    // A page closed without unregistering: its entry goes.
    for (auto it = members_.begin(); it != members_.end();) {
        if (it->second.expired()) {
            budget_.entries.erase(it->first);
            releasing_.erase(it->first);
            it = members_.erase(it);
        } else {
            ++it;
        }
    }
}

void WebViewWorkingSet::apply(const std::vector<std::string>& release) {
    for (const std::string& id : release) {
        if (auto page = member(id)) {
            releasing_.insert(id);
            tasks_.spawn(releaseMember(page, id));
        }
    }
}

Task<void> WebViewWorkingSet::releaseMember(std::weak_ptr<Member> weakMember, std::string id) {
    auto member = weakMember.lock();
    if (!member) {
        releasing_.erase(id);
        co_return;
    }
    Task<bool> releasing = member->releaseReader();
    member.reset();
    const bool released = co_await std::move(releasing);
    releasing_.erase(id);
    if (!released) co_return;
    ++releaseCount_;
}

}  // namespace larkspin
