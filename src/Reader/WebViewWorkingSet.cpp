#include "Reader/WebViewWorkingSet.hpp"

#include "Platform/Async/MainThread.hpp"

namespace larkspin {

std::int64_t WebViewWorkingSet::configuredHotLimit(std::optional<std::int64_t> stored) {
    return stored && *stored >= 1 ? *stored : defaultHotLimit;
}

std::shared_ptr<WebViewWorkingSet> WebViewWorkingSet::create(std::int64_t hotLimit) {
    return std::shared_ptr<WebViewWorkingSet>(new WebViewWorkingSet(hotLimit));
}

void WebViewWorkingSet::registerMember(const std::shared_ptr<Member>& member) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const std::string id = member->readerDocumentID();
    members_[id] = member;
    const bool hot = member->readerHasWebView();
    ++budget_.clock;
    budget_.entries.insert_or_assign(id, WebViewBudget::Entry{id, hot, false, budget_.clock});
    apply(hot ? budget_.evict(id) : std::vector<std::string>{});
}

void WebViewWorkingSet::activate(const std::shared_ptr<Member>& member, bool wantsHot) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const std::string id = member->readerDocumentID();
    members_[id] = member;
    const WebViewBudget::Plan plan = budget_.activate(id, wantsHot);
    // The activated document gets its web view before the evicted ones give
    // theirs up.
    if (wantsHot && member->rebuildReader()) ++rebuildCount_;
    apply(plan.release);
}

void WebViewWorkingSet::setEditing(const Member& member, bool editing) {
    const auto found = budget_.entries.find(member.readerDocumentID());
    if (found != budget_.entries.end()) found->second.isEditing = editing;
}

void WebViewWorkingSet::noteReleased(const Member& member) {
    const auto found = budget_.entries.find(member.readerDocumentID());
    if (found != budget_.entries.end()) found->second.isHot = false;
    changed();
}

void WebViewWorkingSet::unregister(const Member& member) {
    const std::string id = member.readerDocumentID();
    members_.erase(id);
    budget_.entries.erase(id);
    changed();
}

void WebViewWorkingSet::handleProcessRecovery(const std::shared_ptr<Member>& member,
                                              ProcessRecoveryAction action, bool isKey,
                                              bool isEditing) {
    switch (action) {
        case ProcessRecoveryAction::rebuild:
            noteReleased(*member);
            if (isKey && !isEditing) activate(member, true);
            return;
        case ProcessRecoveryAction::crashLoop:
            noteReleased(*member);
            return;
        case ProcessRecoveryAction::retry:
            activate(member, true);
            return;
    }
}

void WebViewWorkingSet::apply(const std::vector<std::string>& release) {
    for (const std::string& id : release) {
        const auto found = members_.find(id);
        std::shared_ptr<Member> member = found == members_.end() ? nullptr : found->second.lock();
        if (member) {
            tasks_.spawn(releaseMember(member));
        } else {
            // A window closed without unregistering: its entry goes.
            budget_.entries.erase(id);
            if (found != members_.end()) members_.erase(found);
        }
    }
    changed();
}

Task<void> WebViewWorkingSet::releaseMember(std::weak_ptr<Member> weakMember) {
    auto member = weakMember.lock();
    if (!member) co_return;
    Task<bool> releasing = member->releaseReader();
    member.reset();
    if (!co_await std::move(releasing)) co_return;
    ++releaseCount_;
    changed();
}

void WebViewWorkingSet::changed() {
    if (onChange) onChange();
}

}  // namespace larkspin
