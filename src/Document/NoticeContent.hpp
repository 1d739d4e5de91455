#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "Document/ExternalIssue.hpp"
#include "Reader/Strips/NoticeBarContent.hpp"

namespace larkspin {

// What the notice bar's content depends on besides the issue.
struct NoticeContext {
    bool hasFile = false;  // the document has a file location
    bool isDirty = false;  // unsaved changes
};

// What each button does. The document fills them with handlers that hold it
// weakly; an empty one makes a button that does nothing.
struct NoticeHandlers {
    std::function<void()> reloadDiscarding;   // the conflict's reload
    std::function<void()> keepMine;
    std::function<void()> acceptExternal;     // the external change's reload
    std::function<void()> sampleAgain;        // the unreadable notice's retry
    std::function<void()> relocate;           // relocate, and reauthorize
    std::function<void()> retrySave;
    std::function<void()> dismissRecovered;
    std::function<void()> saveElsewhere;
};

// The notice bar's tone, message and buttons for `issue`. The save button
// reads "另存副本…" for a clean document with a file and "另存为…"
// otherwise; only the conflict's reload is destructive.
NoticeBarContent noticeContent(const ExternalIssue& issue, NoticeContext context,
                               const NoticeHandlers& handlers);

// A date in the current locale's short date and time, as the recovered
// notice shows it.
std::string formatNoticeDate(std::chrono::system_clock::time_point date);

}  // namespace larkspin
