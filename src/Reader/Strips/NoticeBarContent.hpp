#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Model/ExternalIssueKind.hpp"

namespace larkspin {

// What the notice bar shows for a problem with the file behind a document:
// the document builds it for each issue and hands it to its bar.
struct NoticeBarContent {
    // Picks the icon and the accent colour.
    enum class Tone { warning, error, info };

    struct Action {
        std::string title;  // also the button's tooltip and accessible label
        bool isDestructive = false;  // drawn like any other button
        std::function<void()> handler;  // main thread; the bar does not hide itself
    };

    Tone tone = Tone::warning;
    std::string message;  // plain text, never markup
    std::vector<Action> actions;  // the buttons, start to end
    // The issue's kind; the bar uses it only for the strength of its tint
    // (missing, permission and saveFailed have their own; the rest share one).
    ExternalIssueKind kind = ExternalIssueKind::conflict;
};

}  // namespace larkspin
