#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Protocol/Payloads/FindPayload.hpp"

namespace larkspin {

// The rules of the in-page find bar, free of any widget. The two mutating
// operations return the request to send to the page, or none when there is
// nothing to send.
struct FindBarState {
    // What to ask the page for: a search (or a step through its matches), or
    // to drop every highlight.
    struct Request {
        enum class Kind { find, clear };

        Kind kind = Kind::clear;
        FindPayload payload;  // find only

        static Request find(FindPayload payload) { return {Kind::find, std::move(payload)}; }
        static Request clear() { return {Kind::clear, {}}; }

        bool operator==(const Request&) const = default;
    };

    std::string query;           // the text as last typed
    bool caseSensitive = false;  // no control changes it
    std::int64_t matchCount = 0;    // never negative
    std::int64_t activeIndex = -1;  // zero-based; -1 for none
    // The count is of a document still going in: more matches may come.
    bool partial = false;
    bool isVisible = false;
    // The query of the last find sent since the bar was last closed or the
    // field emptied, and the case flag that went with it.
    std::optional<std::string> lastSentQuery;
    bool lastSentCaseSensitive = false;

    // The user typed: a new search from the top of the view, or, for an
    // empty field, a clear when something had been searched.
    std::optional<Request> queryChanged(std::string text);

    // Next or previous match. A new search (restart) when the query or the
    // case flag differs from what was last sent; nothing for an empty query.
    std::optional<Request> step(FindPayload::Direction direction);

    // The document rendered: a visible search is repeated, as a step, or,
    // when its count was not final, as the same search again (the page keeps
    // its active match), so that the count becomes final without a move.
    std::optional<Request> rendered();
    // Applies the page's answer to a find: the count (never negative), the
    // active match, none when `found` is false, and whether the count is not
    // final. Returns whether nothing was found in a whole document, which the
    // bar shows by shaking its field.
    bool applyFindReply(std::int64_t replyMatchCount, std::int64_t replyActiveIndex, bool found,
                        bool replyPartial);

    // Closing forgets the matches and what was sent; the query stays. Returns
    // whether the page's highlights must be cleared (something had been sent).
    bool close();

    // "2 / 7" for the second of seven matches; "0 / 0" without an active match;
    // "2 / 7+" while the count is not final.
    std::string countText() const;
    // The characters the counter keeps room for: the widest text its count
    // can give ("342 / 342"), so that stepping never moves what follows it.
    int countWidthChars() const;
    // Whether there is an active match to step from (an index the count
    // cannot hold counts as none).
    bool hasActiveMatch() const {
        return matchCount >= 1 && activeIndex >= 0 && activeIndex < matchCount;
    }
    // No match for a query that is not empty: the counter turns red.
    bool showsNoMatch() const { return !query.empty() && matchCount == 0 && !partial; }
    // What a screen reader says for the counter: "第 2 个，共 7 个", "没有匹配"
    // or "尚未查找".
    std::string countAccessibilityLabel() const;

    bool operator==(const FindBarState&) const = default;
};

}  // namespace larkspin
