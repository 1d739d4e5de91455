// The find strip against the real renderer page under Xvfb: the page's own
// find, reached through the reader bridge over WebKit, with a small adapter
// in the reader's place.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Platform/Json/PayloadCodec.hpp"
#include "Protocol/AppResourceSchemeHandler.hpp"
#include "Protocol/BridgeError.hpp"
#include "Protocol/ReaderBridge.hpp"
#include "Protocol/RenderRequestPayload.hpp"
#include "Reader/Chrome/FindBarController.hpp"
#include "Reader/Chrome/FindBarViewController.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Web/ReaderWebView.hpp"
#include "Web/ResourceSchemes.hpp"
#include "Web/WebKitBridgePort.hpp"

namespace larkspin {
namespace {

// A press of the button as its "clicked" signal (activating a button waits
// for a timer before it clicks).
void click(GtkWidget* button) {
    g_signal_emit_by_name(button, "clicked");
}

using nlohmann::json;

class ReadyWatch final : public ReaderBridgeDelegate {
public:
    void bridgeDidBecomeReady(ReaderBridge&) override { ready = true; }
    void bridgeDidReceiveError(ReaderBridge&, const BridgeErrorPayload&) override {}
    bool ready = false;
};

// What the reader view will do for the find bar, in a few lines.
class BridgeFindTarget final : public FindTarget {
public:
    BridgeFindTarget(std::weak_ptr<ReaderBridge> bridge, GtkWidget* page)
        : bridge_(std::move(bridge)), page_(page) {}

    Task<FindResultPayload> find(FindPayload payload) override {
        return request(bridge_, BridgeMessageType::find, PayloadCodec::encode(payload));
    }
    Task<FindResultPayload> clearFind() override {
        return request(bridge_, BridgeMessageType::clearFind, JSONValue::object());
    }
    void focusPage() override {
        gtk_widget_grab_focus(page_);
        ++pageFocusCount;
    }

    int pageFocusCount = 0;

private:
    static Task<FindResultPayload> request(std::weak_ptr<ReaderBridge> weak,
                                           BridgeMessageType type, JSONValue payload) {
        auto bridge = weak.lock();
        if (!bridge) throw BridgeError::notAttached();
        Task<BridgeEnvelope> sending = bridge->send(type, std::move(payload));
        bridge.reset();
        const BridgeEnvelope reply = co_await std::move(sending);
        if (reply.type != "findResult") throw BridgeError::unexpectedType(reply.type);
        co_return reply.decodePayload<FindResultPayload>();
    }

    std::weak_ptr<ReaderBridge> bridge_;
    GtkWidget* page_;
};

std::string needles(int count) {
    std::string text = "# Hay\n\n";
    for (int n = 1; n <= count; ++n) {
        text += "Paragraph " + std::to_string(n) + " hides a needle in its hay.\n\n";
    }
    return text;
}

class FindBarDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto pageFiles = AppResourceSchemeHandler::createForRenderer();
        ASSERT_TRUE(pageFiles) << "the renderer page is not built: run scripts/build-renderer.sh";
        schemes = ResourceSchemes::install(harness.context());
        webView = ReaderWebView::create(harness.context());
        schemes->route(webView.get(), pageFiles, nullptr);
        bridge->setDelegate(ready);
        bridge->attach(WebKitBridgePort::create(webView.get()));

        view = FindBarViewController::create();
        target = std::make_shared<BridgeFindTarget>(bridge, GTK_WIDGET(webView.get()));
        bar = FindBarController::create(view, target);

        window = GTK_WINDOW(gtk_window_new());
        gtk_window_set_default_size(window, 640, 480);
        GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_box_append(GTK_BOX(page), view->widget());
        gtk_widget_set_vexpand(GTK_WIDGET(webView.get()), TRUE);
        gtk_box_append(GTK_BOX(page), GTK_WIDGET(webView.get()));
        gtk_window_set_child(window, page);
        gtk_window_present(window);

        const test::LoadOutcome load =
            test::loadAndWait(webView.get(), std::string(AppResourceSchemeHandler::entryURL));
        ASSERT_TRUE(load.finished && !load.failed) << load.error;
        ASSERT_TRUE(test::waitFor([&] { return ready->ready; })) << "the page did not post ready";
        render(needles(4));
    }

    void TearDown() override {
        bar.reset();
        bridge->teardown();
        if (window) gtk_window_destroy(window);
    }

    void render(const std::string& source) {
        RenderRequestPayload payload;
        payload.source = source;
        payload.language = "en";
        auto outcome = test::startTask(bridge->send(BridgeMessageType::render, payload.jsonValue()));
        ASSERT_TRUE(test::waitFor([&] { return outcome->finished; }));
        ASSERT_FALSE(outcome->error);
        ASSERT_EQ(outcome->value->type, "rendered");
    }

    std::string counter() const { return gtk_label_get_text(GTK_LABEL(view->countLabel())); }
    // Waits until the counter reads `text` (the page's answer has been drawn).
    ::testing::AssertionResult counterReads(const std::string& text) {
        if (test::waitFor([&] { return counter() == text; })) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "counter reads \"" << counter() << "\", not \""
                                             << text << "\"";
    }
    json page(const std::string& body) {
        const test::ScriptOutcome outcome = test::callScript(webView.get(), body);
        EXPECT_TRUE(outcome.ok) << outcome.error;
        return outcome.ok ? json::parse(outcome.json) : json();
    }
    json marks() {
        return page("return {all: document.querySelectorAll('mark.md-find').length, "
                    "active: Array.from(document.querySelectorAll('mark.md-find'))"
                    ".findIndex((m) => m.classList.contains('md-find-active'))};");
    }
    void type(const char* text) { gtk_editable_set_text(GTK_EDITABLE(view->searchField()), text); }
    void emit(const char* signal) { g_signal_emit_by_name(view->searchField(), signal); }
    bool focusIsIn(GtkWidget* widget) const {
        GtkWidget* focus = gtk_window_get_focus(window);
        return focus && (focus == widget || gtk_widget_is_ancestor(focus, widget));
    }
    bool hasClass(GtkWidget* widget, const char* name) {
        return gtk_widget_has_css_class(widget, name);
    }

    test::LogCapture logs;
    test::WebViewHarness harness;
    std::shared_ptr<ResourceSchemes> schemes;
    GObjectPtr<WebKitWebView> webView;
    std::shared_ptr<ReadyWatch> ready = std::make_shared<ReadyWatch>();
    std::shared_ptr<ReaderBridge> bridge = ReaderBridge::create("DOC-1", "SESSION-1");
    std::shared_ptr<FindBarViewController> view;
    std::shared_ptr<BridgeFindTarget> target;
    std::shared_ptr<FindBarController> bar;
    GtkWindow* window = nullptr;
};

TEST_F(FindBarDisplayTest, CountsStepsAndMissesAreThePages) {
    bar->show();
    EXPECT_TRUE(gtk_revealer_get_reveal_child(GTK_REVEALER(view->widget())));
    EXPECT_EQ(counter(), "0 / 0");
    EXPECT_FALSE(gtk_widget_get_sensitive(view->nextButton()));

    type("needle");
    ASSERT_TRUE(counterReads("1 / 4"));
    EXPECT_EQ(marks(), (json{{"all", 4}, {"active", 0}}));
    EXPECT_TRUE(hasClass(view->countLabel(), "dim-label"));
    EXPECT_TRUE(gtk_widget_get_sensitive(view->nextButton()));
    EXPECT_TRUE(gtk_widget_get_sensitive(view->previousButton()));

    emit("activate");  // Enter
    ASSERT_TRUE(counterReads("2 / 4"));
    emit("next-match");  // Ctrl+G
    ASSERT_TRUE(counterReads("3 / 4"));
    emit("previous-match");  // Shift+Ctrl+G
    ASSERT_TRUE(counterReads("2 / 4"));
    click(view->previousButton());
    ASSERT_TRUE(counterReads("1 / 4"));
    click(view->previousButton());
    ASSERT_TRUE(counterReads("4 / 4")) << "steps wrap around";
    EXPECT_EQ(marks()["active"], 3);
    click(view->nextButton());
    ASSERT_TRUE(counterReads("1 / 4"));
    EXPECT_EQ(marks()["active"], 0);

    // A miss: the counter turns red, nothing to step to, no marks left.
    type("haystack");
    ASSERT_TRUE(test::waitFor([&] { return hasClass(view->countLabel(), "error"); }));
    EXPECT_EQ(counter(), "0 / 0");
    EXPECT_FALSE(gtk_widget_get_sensitive(view->nextButton()));
    EXPECT_EQ(marks()["all"], 0);
}

TEST_F(FindBarDisplayTest, ANewRenderIsSearchedAgain) {
    bar->show();
    type("needle");
    ASSERT_TRUE(counterReads("1 / 4"));
    emit("activate");
    ASSERT_TRUE(counterReads("2 / 4"));

    render(needles(7));
    bar->documentDidRender();
    ASSERT_TRUE(counterReads("2 / 7")) << "the active match stays where it was";
    EXPECT_EQ(marks(), (json{{"all", 7}, {"active", 1}}));

    // Hidden, the bar leaves a new render alone.
    emit("stop-search");
    ASSERT_TRUE(test::waitFor([&] { return marks()["all"] == 0; }));
    const auto serial = bar->requestSerial();
    render(needles(2));
    bar->documentDidRender();
    EXPECT_EQ(bar->requestSerial(), serial);
}

TEST_F(FindBarDisplayTest, EscapeClosesClearsAndGivesThePageTheFocus) {
    bar->show();
    EXPECT_TRUE(focusIsIn(view->searchField()));
    type("needle");
    ASSERT_TRUE(counterReads("1 / 4"));

    emit("stop-search");  // Esc
    EXPECT_FALSE(gtk_revealer_get_reveal_child(GTK_REVEALER(view->widget())));
    EXPECT_EQ(target->pageFocusCount, 1);
    EXPECT_TRUE(focusIsIn(GTK_WIDGET(webView.get())));
    ASSERT_TRUE(test::waitFor([&] { return marks()["all"] == 0; }));
    EXPECT_EQ(counter(), "0 / 0");

    // Reopened, the query is still there, and the first step searches anew.
    bar->step(FindPayload::Direction::next);
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(view->searchField())), "needle");
    ASSERT_TRUE(counterReads("1 / 4"));

    click(view->doneButton());
    EXPECT_FALSE(bar->state().isVisible);
}

// An answer to older typing arrives while the field's newest text waits for
// its (always later) "search-changed": the typing stays.
TEST(FindBarViewDisplay, TypingIsNeverOverwrittenByAnOlderAnswer) {
    auto view = FindBarViewController::create();
    std::vector<std::string> typed;
    view->onQueryChange = [&](std::string text) { typed.push_back(std::move(text)); };
    GtkEditable* field = GTK_EDITABLE(view->searchField());
    const auto settle = [] { test::runMainLoopUntil([] { return false; }, 4); };

    int end = 0;
    gtk_editable_insert_text(field, "a", -1, &end);
    settle();
    gtk_editable_insert_text(field, "b", -1, &end);  // typed; not passed on yet
    FindBarState answered;
    answered.query = "a";
    view->render(answered);
    EXPECT_STREQ(gtk_editable_get_text(field), "ab");
    settle();
    EXPECT_EQ(typed, (std::vector<std::string>{"a", "ab"}));

    // A query from elsewhere (the selection) is shown, and not searched twice.
    FindBarState selected;
    selected.query = "word";
    view->render(selected);
    EXPECT_STREQ(gtk_editable_get_text(field), "word");
    settle();
    EXPECT_EQ(typed.size(), 2u);
}

}  // namespace
}  // namespace larkspin
