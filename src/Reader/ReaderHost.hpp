#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Appearance/HexColor.hpp"
#include "Appearance/Theme.hpp"
#include "Platform/Async/Task.hpp"
#include "Protocol/Navigation/NavigationType.hpp"
#include "Protocol/Bridge/ReaderBridgePort.hpp"

namespace larkspin {

class AppResourceSchemeHandler;
class DocumentResourceSchemeHandler;

// The content of the reader's full-page status view.
struct DocumentStatusContent {
    std::string title;
    std::string detail;
    std::optional<std::string> preview;      // read-only text in a monospaced box
    std::optional<std::string> actionTitle;  // the one button; none hides it
    bool operator==(const DocumentStatusContent&) const = default;
};

// A navigation the web view is about to perform, as the reader judges it.
struct NavigationRequest {
    std::optional<std::string> url;
    bool isMainFrame = true;
    bool hasTargetFrame = true;
    NavigationType type = NavigationType::other;
};

// A page panel (script dialog) that the reader web view answered without
// showing anything.
enum class ScriptPanel { alert, confirm, prompt };

// What the web view side tells the reader view controller.
class ReaderHostEvents {
public:
    virtual ~ReaderHostEvents() = default;
    // True to let the navigation happen.
    virtual bool webViewShouldNavigate(const NavigationRequest& request) = 0;
    virtual void webViewDidFinishLoad() = 0;
    // `provisional`: the load failed before the page was committed.
    virtual void webViewDidFailLoad(bool provisional, const std::string& description) = 0;
    virtual void webViewProcessDidTerminate(std::string_view reason) = 0;
    // The page asked for a panel; it was answered at once (confirm: false,
    // prompt: none).
    virtual void webViewDidIgnorePanel(ScriptPanel, const std::string& /*message*/) {}
    // The page asked for a new window (none is ever made).
    virtual void webViewDidRefuseNewWindow(const std::optional<std::string>& /*url*/) {}
};

// A reader web view made ahead of need, in no window, as the prewarmer and
// then the reader that adopts it drive it. `SpareReaderWebView` is the GTK
// form; tests use a fake. Main thread.
class SpareWebView {
public:
    virtual ~SpareWebView() = default;
    // The port for the spare's bridge (made once; the bridge attaches to it).
    virtual std::shared_ptr<ReaderBridgePort> bridgePort() = 0;
    // Who hears the web view's navigations, loads and process end; none
    // disconnects them.
    virtual void setEvents(std::weak_ptr<ReaderHostEvents> events) = 0;
    virtual void loadEntryPage(std::string_view url) = 0;
    virtual void stopLoading() = 0;
};

// The reader's widgets as the reader view controller drives them: its root
// (the web view as main child, the status view and the banner above it) and
// the one web view mounted in it. `ReaderView` is the GTK form; tests use a
// fake. Everything here only shows: the controller decides. Main thread.
class ReaderHost {
public:
    virtual ~ReaderHost() = default;

    virtual void setEvents(std::weak_ptr<ReaderHostEvents> events) = 0;

    // The root shows only this text (the renderer's files are missing).
    virtual void showRendererMissing(const std::string& text) = 0;

    // Makes a reader web view whose two schemes go to these handlers, mounts
    // it below the overlays (hidden while a status view is shown, with the
    // under-page colour when one is given) and returns its bridge port.
    virtual std::shared_ptr<ReaderBridgePort> installWebView(
        std::shared_ptr<AppResourceSchemeHandler> appResources,
        std::shared_ptr<DocumentResourceSchemeHandler> documentResources,
        const std::optional<ColorComponents>& underPageColor) = 0;
    // Mounts the web view of a spare made ahead of need (its page already
    // loaded) as `installWebView` mounts a new one.
    virtual void adoptWebView(std::shared_ptr<SpareWebView> spare,
                              const std::optional<ColorComponents>& underPageColor) = 0;
    virtual void loadEntryPage(std::string_view url) = 0;
    virtual void stopLoading() = 0;
    // Unmounts and drops the web view; the root shows the under-page colour.
    virtual void discardWebView() = 0;
    virtual void setUnderPageColor(const ColorComponents& color) = 0;
    // Gives the keyboard focus to the web view, when there is one.
    virtual void focusPage() = 0;
    // The colour as text for logs.
    virtual std::string underPageColorDescription() const = 0;
    // Runs `body` as an asynchronous function in the page's own content
    // world of the mounted web view: its result when that is a string, none
    // for any other value. Throws BridgeError (no web view) or what the call
    // failed with. A host without web views keeps the default: no web view.
    virtual Task<std::optional<std::string>> runPageScript(std::string body);

    virtual void showStatus(const DocumentStatusContent& content, const Theme& theme,
                            std::function<void()> onAction) = 0;
    virtual void hideStatus() = 0;
    // The theme in force changed: a status page shown takes its colours (one
    // shown later is given the theme in force).
    virtual void applyTheme(const Theme& theme) = 0;
    virtual void showBanner(const std::string& message, const std::string& actionTitle,
                            std::function<void()> onAction, std::function<void()> onDismiss) = 0;
    virtual void hideBanner() = 0;
};

}  // namespace larkspin
