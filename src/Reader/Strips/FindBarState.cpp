#include "Reader/Strips/FindBarState.hpp"

#include <algorithm>

#include "Platform/Localization.hpp"

namespace larkspin {

std::optional<FindBarState::Request> FindBarState::queryChanged(std::string text) {
    query = std::move(text);
    if (!query.empty()) {
        lastSentQuery = query;
        lastSentCaseSensitive = caseSensitive;
        return Request::find({query, FindPayload::Direction::next, caseSensitive, true});
    }
    matchCount = 0;
    activeIndex = -1;
    partial = false;
    if (!lastSentQuery) return std::nullopt;
    lastSentQuery.reset();
    return Request::clear();
}

std::optional<FindBarState::Request> FindBarState::step(FindPayload::Direction direction) {
    if (query.empty()) return std::nullopt;
    const bool restart =
        !lastSentQuery || *lastSentQuery != query || lastSentCaseSensitive != caseSensitive;
    lastSentQuery = query;
    lastSentCaseSensitive = caseSensitive;
    return Request::find({query, direction, caseSensitive, restart});
}

std::optional<FindBarState::Request> FindBarState::rendered() {
    if (!isVisible || query.empty()) return std::nullopt;
    if (!partial) return step(FindPayload::Direction::next);
    lastSentQuery = query;
    lastSentCaseSensitive = caseSensitive;
    return Request::find({query, FindPayload::Direction::next, caseSensitive, true});
}

bool FindBarState::applyFindReply(std::int64_t replyMatchCount, std::int64_t replyActiveIndex,
                                  bool found, bool replyPartial) {
    matchCount = std::max<std::int64_t>(replyMatchCount, 0);
    activeIndex = found ? replyActiveIndex : -1;
    partial = replyPartial;
    return !found && !partial;
}

bool FindBarState::close() {
    isVisible = false;
    activeIndex = -1;
    matchCount = 0;
    partial = false;
    if (!lastSentQuery) return false;
    lastSentQuery.reset();
    return true;
}

std::string FindBarState::countText() const {
    const std::string more = partial ? "+" : "";
    if (!hasActiveMatch()) return "0 / 0" + more;
    return std::to_string(activeIndex + 1) + " / " + std::to_string(matchCount) + more;
}

int FindBarState::countWidthChars() const {
    const int digits = static_cast<int>(std::to_string(std::max<std::int64_t>(matchCount, 0)).size());
    return 2 * digits + 3 + (partial ? 1 : 0);
}

std::string FindBarState::countAccessibilityLabel() const {
    if (hasActiveMatch()) {
        return L10n::format(partial ? "a11y.findBar.countSoFar" : "a11y.findBar.count",
                            {std::to_string(activeIndex + 1), std::to_string(matchCount)});
    }
    if (showsNoMatch()) return L10n::text("a11y.findBar.noMatch");
    return L10n::text("a11y.findBar.idle");
}

}  // namespace larkspin
