#pragma once

// What the lifecycle and tab-switch benchmarks share: the generated 100 KiB
// document their readers render and a spare web view made ready.

#include <string>

#include "GeneratedDocument.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Reader/WebViewPrewarmer.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin::bench {

inline const std::string& document100k() {
    static const std::string text = generatedDocument(100 * 1024);
    return text;
}

// Waits for a ready spare, starting another when one fails.
inline bool spareReady(WebViewPrewarmer& prewarmer) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        prewarmer.schedule();
        test::waitFor([&] {
            return prewarmer.state() == WebViewPrewarmer::State::ready ||
                   (prewarmer.state() == WebViewPrewarmer::State::idle && MainThread::pendingCount() == 0);
        });
        if (prewarmer.state() == WebViewPrewarmer::State::ready) return true;
    }
    return false;
}

}  // namespace larkspin::bench
