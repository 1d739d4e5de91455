#include <X11/keysym.h>
#include <adwaita.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Document/Drafts/DraftScheduler.hpp"
#include "Document/FakeDocumentKeeper.hpp"
#include "Document/Document.hpp"
#include "Platform/UserDefaults.hpp"
#include "Reader/Strips/FindBarController.hpp"
#include "Reader/Widgets/FindBarViewController.hpp"
#include "Reader/ReaderDisplaySupport.hpp"
#include "Reader/Widgets/Tooltips.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Window/Widgets/WindowTheme.hpp"
#include "Support/Display/Keyboard.hpp"
#include "Support/Display/RecordingFileManager.hpp"
#include "Support/Display/TestPageOwner.hpp"
#include "Support/Display/TestWindowServices.hpp"
#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin {
namespace {

// The pointer of the test's X display driven through the XTest extension,
// loaded at run time (Xlib's header is left out: its macros clash with
// GoogleTest's names).
class FakePointer {
    struct Display;

public:
    FakePointer() {
        x11_ = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        xtst_ = ::dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!x11_ || !xtst_) return;
        auto open = reinterpret_cast<Display* (*)(const char*)>(::dlsym(x11_, "XOpenDisplay"));
        close_ = reinterpret_cast<int (*)(Display*)>(::dlsym(x11_, "XCloseDisplay"));
        flush_ = reinterpret_cast<int (*)(Display*)>(::dlsym(x11_, "XFlush"));
        motion_ = reinterpret_cast<int (*)(Display*, int, int, int, unsigned long)>(
            ::dlsym(xtst_, "XTestFakeMotionEvent"));
        button_ = reinterpret_cast<int (*)(Display*, unsigned, int, unsigned long)>(
            ::dlsym(xtst_, "XTestFakeButtonEvent"));
        if (open && close_ && flush_ && motion_ && button_) {
            display_ = open(gdk_display_get_name(gdk_display_get_default()));
        }
    }
    ~FakePointer() {
        if (display_) close_(display_);
        if (xtst_) ::dlclose(xtst_);
        if (x11_) ::dlclose(x11_);
    }
    FakePointer(const FakePointer&) = delete;
    FakePointer& operator=(const FakePointer&) = delete;

    bool available() const { return display_ != nullptr; }
    // Each step is taken in by the program before the next.
    void moveTo(int x, int y) {
        motion_(display_, -1, x, y, 0);
        flush_(display_);
        test::runMainLoopUntil([] { return false; }, 20);
    }
    void button(bool pressed) {
        button_(display_, 1, pressed ? 1 : 0, 0);
        flush_(display_);
        test::runMainLoopUntil([] { return false; }, 20);
    }

private:
    void* x11_ = nullptr;
    void* xtst_ = nullptr;
    Display* display_ = nullptr;
    int (*close_)(Display*) = nullptr;
    int (*flush_)(Display*) = nullptr;
    int (*motion_)(Display*, int, int, int, unsigned long) = nullptr;
    int (*button_)(Display*, unsigned, int, unsigned long) = nullptr;
};

// The window's X size set from outside, as a window manager or a tiling
// command sets it (without a window manager here, at once), through Xlib
// loaded at run time.
bool resizeOnX(GtkWindow* window, int width, int height) {
    using XidOf = unsigned long (*)(GdkSurface*);
    auto xidOf = reinterpret_cast<XidOf>(::dlsym(RTLD_DEFAULT, "gdk_x11_surface_get_xid"));
    void* x11 = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    bool done = false;
    if (xidOf && x11) {
        struct Display;
        auto open = reinterpret_cast<Display* (*)(const char*)>(::dlsym(x11, "XOpenDisplay"));
        auto close = reinterpret_cast<int (*)(Display*)>(::dlsym(x11, "XCloseDisplay"));
        auto resize = reinterpret_cast<int (*)(Display*, unsigned long, unsigned, unsigned)>(
            ::dlsym(x11, "XResizeWindow"));
        auto sync = reinterpret_cast<int (*)(Display*, int)>(::dlsym(x11, "XSync"));
        Display* display = open && close && resize && sync
                               ? open(gdk_display_get_name(gdk_display_get_default()))
                               : nullptr;
        if (display) {
            resize(display, xidOf(gtk_native_get_surface(GTK_NATIVE(window))), static_cast<unsigned>(width),
                   static_cast<unsigned>(height));
            sync(display, 0);
            close(display);
            done = true;
        }
    }
    if (x11) ::dlclose(x11);
    return done;
}

// The window rendered as it is now, with the bounds of what it draws in its
// own coordinates; null when it draws nothing. The caller unrefs it.
GdkTexture* renderWindow(GtkWindow* window, graphene_rect_t* bounds = nullptr) {
    GdkPaintable* paintable = gtk_widget_paintable_new(GTK_WIDGET(window));
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(paintable, snapshot, gdk_paintable_get_intrinsic_width(paintable),
                           gdk_paintable_get_intrinsic_height(paintable));
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    g_object_unref(paintable);
    if (!node) return nullptr;
    if (bounds) gsk_render_node_get_bounds(node, bounds);
    GdkTexture* texture = gsk_renderer_render_texture(gtk_native_get_renderer(GTK_NATIVE(window)), node, nullptr);
    gsk_render_node_unref(node);
    return texture;
}

// A texture's pixels, row by row, as 0xAARRGGBB.
std::vector<guint32> pixelsOf(GdkTexture* texture) {
    const int width = gdk_texture_get_width(texture);
    std::vector<guint32> pixels(static_cast<std::size_t>(width) * gdk_texture_get_height(texture));
    gdk_texture_download(texture, reinterpret_cast<guchar*>(pixels.data()), static_cast<gsize>(width) * 4);
    return pixels;
}

// How many colours the window draws in its top `rows` rows of pixels (its
// header bar: the title, the buttons' icons), rendered as it is now.
std::size_t coloursAtTheTop(GtkWindow* window, int rows) {
    GdkTexture* texture = renderWindow(window);
    if (!texture) return 0;
    const int width = gdk_texture_get_width(texture);
    const int height = std::min(gdk_texture_get_height(texture), rows);
    const std::vector<guint32> pixels = pixelsOf(texture);
    g_object_unref(texture);
    std::set<guint32> colours(pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(width) * height);
    return colours.size();
}

// The colour the window draws at (x, y) of its own coordinates, rendered as
// it is now, as 0xAARRGGBB.
guint32 pixelAt(GtkWindow* window, int x, int y) {
    graphene_rect_t bounds;
    GdkTexture* texture = renderWindow(window, &bounds);
    if (!texture) return 0;
    const int width = gdk_texture_get_width(texture);
    const std::vector<guint32> pixels = pixelsOf(texture);
    g_object_unref(texture);
    const int column = x - static_cast<int>(bounds.origin.x);
    const int row = y - static_cast<int>(bounds.origin.y);
    if (column < 0 || row < 0 || column >= width || row >= static_cast<int>(pixels.size()) / width) return 0;
    return pixels[static_cast<std::size_t>(row) * width + column];
}

// A document as the pages see it: a real document (its file never read,
// not watched) and a reader of its own.
struct TestDocument {
    std::shared_ptr<Document> document;
    std::shared_ptr<ReaderView> view;
    std::shared_ptr<ReaderViewController> controller;
};

class TabGroupWindowDisplay : public test::ReaderDisplayTest {
protected:
    void TearDown() override {
        // Windows first: they end their pages, which let go of the readers.
        for (GtkWindow* group : windows) {
            if (group) gtk_window_destroy(group);
        }
        MainThread::drainForTesting();
        windows.clear();
        MainThread::drainForTesting();
        documents.clear();
        ReaderDisplayTest::TearDown();
    }

    TabGroupWindow& makeWindow() {
        TabGroupWindow& group = TabGroupWindow::create(pageServices.tabGroups, nullptr, pageServices.sessionChanges);
        track(group.window());
        gtk_window_present(group.window());
        return group;
    }
    // Windows may go by themselves (their last tab left): held weakly.
    void track(GtkWindow* window) {
        windows.push_back(window);
        g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&windows.back()));
    }

    // A page with its new reader, added to `group`; the reader's renders
    // reach the page through its document, as in the program.
    // With `deferred`, the reader's first web view waits for the page to be
    // shown, as the program's pages do, and the page's text is given at once.
    DocumentPage& addPage(TabGroupWindow& group, const std::string& name, bool select = true,
                          bool deferred = false) {
        auto document = std::make_shared<TestDocument>();
        Document::Services services;
        services.draftWriter = pageServices.draftWriter;
        services.observesFile = false;
        std::optional<std::filesystem::path> path;
        if (name != "untitled") path = "/notes/" + name;
        document->document = Document::create(services, std::make_shared<test::FakeDocumentKeeper>(), path);
        document->view = std::make_shared<ReaderView>(*factory);
        ReaderEnvironment environment;
        fillEnvironment(environment);
        documents.push_back(document);
        auto page = std::make_unique<DocumentPage>(document->document, document->view, environment,
                                                   pageServices.value(), ThemeCatalog::theme(ThemeID::porcelain),
                                                   test::RecordingFileManager().port(), pageOwner);
        DocumentPage& added = *page;
        document->controller = added.readerController();
        if (deferred) document->controller->loadView(PageWorkingSetMember::firstWebView);
        if (deferred) document->controller->render("# " + name + "\n\ntext\n");
        group.add(std::move(page), select);
        return added;
    }

    void renderIn(DocumentPage& page, const std::string& text) {
        const int before = renders();
        page.readerController()->loadView();
        page.readerController()->render(text);
        ASSERT_TRUE(test::waitFor([&] { return renders() > before; })) << "no rendered reply";
    }

    nlohmann::json scriptIn(DocumentPage& page, const std::string& body) {
        const test::ScriptOutcome outcome =
            test::callScript(page.readerView()->webView(), body);
        EXPECT_TRUE(outcome.ok) << outcome.error;
        return nlohmann::json::parse(outcome.json, nullptr, false);
    }

    // Runs the named window action the way its shortcut does.
    static bool pressShortcut(TabGroupWindow& group, const char* accelerator) {
        GListModel* shortcuts = G_LIST_MODEL(group.shortcuts());
        for (unsigned index = 0; index < g_list_model_get_n_items(shortcuts); ++index) {
            auto* shortcut = GTK_SHORTCUT(g_list_model_get_item(shortcuts, index));
            char* trigger = gtk_shortcut_trigger_to_string(gtk_shortcut_get_trigger(shortcut));
            const bool match = std::string(trigger) == accelerator;
            g_free(trigger);
            bool done = false;
            if (match) {
                done = gtk_shortcut_action_activate(gtk_shortcut_get_action(shortcut),
                                                    GTK_SHORTCUT_ACTION_EXCLUSIVE,
                                                    GTK_WIDGET(group.window()), nullptr);
            }
            g_object_unref(shortcut);
            if (match) return done;
        }
        return false;
    }

    UserDefaults defaults{dir.path() / "preferences.json"};
    test::TestWindowServices pageServices{defaults};
    std::shared_ptr<test::TestPageOwner> pageOwner = std::make_shared<test::TestPageOwner>();
    std::vector<std::shared_ptr<TestDocument>> documents;
    std::list<GtkWindow*> windows;
    // Renders completed, all pages together.
    int renders() const {
        int total = 0;
        for (const auto& document : documents) total += document->document->renderCount();
        return total;
    }
};

TEST_F(TabGroupWindowDisplay, AMovedTabKeepsItsReaderAndTheActionsFollowTheSelection) {
    TabGroupWindow& first = makeWindow();
    DocumentPage& alpha = addPage(first, "alpha.md");
    DocumentPage& beta = addPage(first, "beta.md");
    EXPECT_EQ(first.selectedPage(), &beta);
    EXPECT_STREQ(gtk_window_get_title(first.window()), "beta.md");
    EXPECT_FALSE(alpha.readerController()->isWindowActive()) << "not the selected page";
    renderIn(alpha, "# Alpha\n\nbefore the move\n");
    WebKitWebView* webView = alpha.readerView()->webView();
    ASSERT_NE(webView, nullptr);

    if (const char* shot = std::getenv("LARKSPIN_WINDOW_SCREENSHOT")) {
        WindowTheme::apply(ThemeCatalog::theme(ThemeID::graphite));
        renderIn(beta,
                 "# Beta\n\nSome text.\n\n## Part one\n\nMore.\n\n### Deeper\n\n## Part two\n");
        adw_tab_view_set_selected_page(first.tabView(),
                                       adw_tab_view_get_nth_page(first.tabView(), 1));
        test::waitFor([] { return false; }, std::chrono::milliseconds(1500));
        if (GdkTexture* texture = renderWindow(first.window())) {
            gdk_texture_save_to_png(texture, shot);
            g_object_unref(texture);
        }
    }

    TabGroupWindow& second = makeWindow();
    first.movePage(alpha, second, 0);
    EXPECT_EQ(first.pages(), std::vector<DocumentPage*>{&beta});
    EXPECT_EQ(second.pages(), std::vector<DocumentPage*>{&alpha});
    EXPECT_EQ(second.selectedPage(), &alpha);
    EXPECT_STREQ(gtk_window_get_title(second.window()), "alpha.md");
    EXPECT_EQ(alpha.readerView()->webView(), webView)
        << "the web view survives the move";
    EXPECT_EQ(gtk_widget_get_root(GTK_WIDGET(webView)), GTK_ROOT(second.window()));
    // Only the selected page of the active window is the key page, once the
    // selection has settled (a turn later).
    MainThread::drainForTesting();
    EXPECT_FALSE(beta.readerController()->isWindowActive() &&
                 !gtk_window_is_active(first.window()));
    EXPECT_EQ(alpha.readerController()->isWindowActive(),
              static_cast<bool>(gtk_window_is_active(second.window())));

    // It still renders, in the same view.
    renderIn(alpha, "# Alpha\n\nafter the move\n");
    EXPECT_EQ(alpha.readerView()->webView(), webView);
    EXPECT_TRUE(test::waitFor([&] {
        const auto text = scriptIn(alpha, "return document.body.innerText;");
        return text.is_string() &&
               text.get<std::string>().find("after the move") != std::string::npos;
    }));

    // The session keeps each group's titled pages in tab order.
    DocumentPage& untitled = addPage(second, "untitled");
    adw_tab_view_set_selected_page(second.tabView(),
                                   adw_tab_view_get_nth_page(second.tabView(), 0));
    int changes = 0;
    NotificationObserver counting = pageServices.sessionChanges.subscribe([&changes] { ++changes; });
    addPage(first, "gamma.md");
    EXPECT_GT(changes, 0);
    counting.reset();
    const SessionSnapshot session = pageServices.tabGroups.sessionSnapshot();
    ASSERT_EQ(session.groups.size(), 2u);
    ASSERT_EQ(session.groups[0].tabs.size(), 2u);
    EXPECT_EQ(session.groups[0].tabs[0],
              (SessionTab{"/notes/beta.md", TabRestorationInfo{1, 0, false}}));
    EXPECT_EQ(session.groups[0].tabs[1],
              (SessionTab{"/notes/gamma.md", TabRestorationInfo{1, 1, true}}));
    ASSERT_EQ(session.groups[1].tabs.size(), 1u) << "an untitled page is not kept";
    EXPECT_EQ(session.groups[1].tabs[0],
              (SessionTab{"/notes/alpha.md", TabRestorationInfo{2, 0, true}}));
    EXPECT_GT(session.groups[1].width, 0);
    adw_tab_view_close_page(second.tabView(),
                            adw_tab_view_get_page(second.tabView(), untitled.widget()));
    adw_tab_view_close_page(first.tabView(), adw_tab_view_get_nth_page(first.tabView(), 1));
    ASSERT_EQ(first.selectedPage(), &beta);

    // Each window's actions reach its own selected page.
    const bool alphaShown = alpha.isSidebarShown();
    const bool betaShown = beta.isSidebarShown();
    gtk_widget_activate_action(GTK_WIDGET(second.window()), "win.toggle-sidebar", nullptr);
    EXPECT_NE(alpha.isSidebarShown(), alphaShown);
    EXPECT_EQ(beta.isSidebarShown(), betaShown);

    // Torn off into a window of its own, then closed there.
    TabGroupWindow& third = first.tearOff(beta);
    track(third.window());
    EXPECT_TRUE(first.pages().empty());
    const TabGroupWindow* emptied = &first;
    EXPECT_TRUE(test::waitFor([this, emptied] {
        const std::vector<TabGroupWindow*> groups = pageServices.tabGroups.all();
        return std::count(groups.begin(), groups.end(), emptied) == 0;
    })) << "a window whose last tab left closes";
    EXPECT_EQ(third.selectedPage(), &beta);
    EXPECT_STREQ(gtk_window_get_title(third.window()), "beta.md");
    adw_tab_view_close_page(third.tabView(), adw_tab_view_get_nth_page(third.tabView(), 0));
    EXPECT_EQ(pageServices.tabGroups.pageOf(beta.widget()), nullptr);
}

// The window's actions are put in its map while it is still empty and stay:
// the selection, and closing the selected tab, change only their states.
// Adding or removing one reaches every widget of every tab, which a restored
// window of a thousand tabs paid for in minutes.
TEST_F(TabGroupWindowDisplay, TheWindowsActionsAreMadeOnceAndFollowTheSelectionByTheirState) {
    TabGroupWindow& group = makeWindow();
    GActionMap* map = G_ACTION_MAP(group.window());
    GAction* find = g_action_map_lookup_action(map, "show-find-bar");
    GAction* sidebar = g_action_map_lookup_action(map, "toggle-sidebar");
    ASSERT_NE(find, nullptr) << "in place before any tab";
    ASSERT_NE(sidebar, nullptr);
    EXPECT_FALSE(g_action_get_enabled(find));

    for (const char* name : {"a.md", "b.md", "c.md"}) addPage(group, name, false);
    adw_tab_view_set_selected_page(group.tabView(), adw_tab_view_get_nth_page(group.tabView(), 2));
    MainThread::drainForTesting();
    EXPECT_EQ(g_action_map_lookup_action(map, "show-find-bar"), find);
    EXPECT_TRUE(g_action_get_enabled(find));

    // The selected tab closes: the next is bound through the same actions.
    adw_tab_view_close_page(group.tabView(), adw_tab_view_get_nth_page(group.tabView(), 2));
    MainThread::drainForTesting();
    ASSERT_NE(group.selectedPage(), nullptr);
    EXPECT_EQ(g_action_map_lookup_action(map, "show-find-bar"), find);
    EXPECT_EQ(g_action_map_lookup_action(map, "toggle-sidebar"), sidebar);
    EXPECT_TRUE(g_action_get_enabled(find));
    const bool shown = group.selectedPage()->isSidebarShown();
    g_action_activate(sidebar, nullptr);
    EXPECT_NE(group.selectedPage()->isSidebarShown(), shown) << "they reach the page now selected";
}

// Pages added unselected and then one selected, as a restored window is laid
// out: only the selected page's reader gets a web view and renders; another
// page gets its own when it is selected, and renders then.
TEST_F(TabGroupWindowDisplay, OnlyTheShownPageLoadsItsWebViewAndAnotherLoadsWhenSelected) {
    TabGroupWindow& group = makeWindow();
    DocumentPage& one = addPage(group, "one.md", false, true);
    DocumentPage& two = addPage(group, "two.md", false, true);
    DocumentPage& three = addPage(group, "three.md", true, true);
    ASSERT_TRUE(test::waitFor([&] { return renders() == 1; })) << "the selected page renders";
    EXPECT_TRUE(three.readerController()->hasWebView());
    EXPECT_FALSE(one.readerController()->hasWebView()) << "selected while the window was laid out, never shown";
    EXPECT_FALSE(two.readerController()->hasWebView());
    ASSERT_EQ(three.readerController()->lastHeadings().size(), 1u);
    EXPECT_EQ(three.readerController()->lastHeadings()[0].text, "three.md");

    adw_tab_view_set_selected_page(group.tabView(), adw_tab_view_get_page(group.tabView(), one.widget()));
    ASSERT_TRUE(test::waitFor([&] { return renders() == 2; })) << "the page selected renders";
    EXPECT_TRUE(one.readerController()->hasWebView());
    ASSERT_EQ(one.readerController()->lastHeadings().size(), 1u);
    EXPECT_EQ(one.readerController()->lastHeadings()[0].text, "one.md");
    EXPECT_FALSE(two.readerController()->hasWebView());
    EXPECT_TRUE(three.readerController()->hasWebView()) << "without a working set nothing is given up";
}

TEST_F(TabGroupWindowDisplay, ShortcutsToggleTheSidebarAndOpenTheFindBar) {
    TabGroupWindow& group = makeWindow();
    DocumentPage& page = addPage(group, "notes.md");
    ASSERT_TRUE(test::waitFor([&] { return group.width() > 0; }));
    ASSERT_GE(group.width(), 900) << "a wide window shows the sidebar by default";
    EXPECT_TRUE(page.isSidebarShown());

    // The menu's item carries a check mark while the sidebar shows.
    const auto marked = [&]() -> std::optional<bool> {
        GVariant* state = g_action_group_get_action_state(G_ACTION_GROUP(group.window()), "toggle-sidebar");
        if (!state) return std::nullopt;
        const bool on = g_variant_get_boolean(state);
        g_variant_unref(state);
        return on;
    };
    ASSERT_TRUE(test::waitFor([&] { return marked() == true; }));
    ASSERT_TRUE(pressShortcut(group, "F9"));
    EXPECT_FALSE(page.isSidebarShown());
    EXPECT_EQ(marked(), false);
    EXPECT_EQ(defaults.boolean("sidebarVisible"), false);
    ASSERT_TRUE(pressShortcut(group, "F9"));
    EXPECT_TRUE(page.isSidebarShown());
    EXPECT_EQ(marked(), true);
    EXPECT_EQ(defaults.boolean("sidebarVisible"), true);
    // Hidden by a narrower window, not by the item: unmarked all the same.
    page.setWindowWidth(800);
    EXPECT_FALSE(page.isSidebarShown());
    EXPECT_EQ(marked(), false);
    page.setWindowWidth(group.width());
    EXPECT_EQ(marked(), true);

    ASSERT_TRUE(pressShortcut(group, "<Control>f"));
    EXPECT_TRUE(gtk_revealer_get_reveal_child(GTK_REVEALER(page.findBarView()->widget())));

    // The header buttons name their shortcuts and act on the same page.
    EXPECT_NE(Tooltips::textOf(group.sidebarButton()).find("F9"), std::string::npos);
    EXPECT_NE(Tooltips::textOf(group.findButton()).find("Ctrl+F"), std::string::npos);
    g_signal_emit_by_name(group.sidebarButton(), "clicked");
    EXPECT_FALSE(page.isSidebarShown());

    // The windows' theme goes on the display once, however often it changes.
    WindowTheme::apply(ThemeCatalog::theme(ThemeID::graphite));
    WindowTheme::apply(ThemeCatalog::theme(ThemeID::porcelain));
    EXPECT_EQ(WindowTheme::providersInstalled(), 1);
    EXPECT_EQ(adw_style_manager_get_color_scheme(adw_style_manager_get_default()),
              ADW_COLOR_SCHEME_FORCE_LIGHT);
}

// A window made narrower than the width at which the sidebar shows, and
// wider again, as a window manager or a tiling command resizes it: every
// time, the window lays out and draws its bars and its page at the size it
// was given (the sidebar goes and comes back between two layouts).
TEST_F(TabGroupWindowDisplay, AWindowResizedAcrossTheSidebarsWidthDrawsItsContentAtEachSize) {
    if (std::string(G_OBJECT_TYPE_NAME(gdk_display_get_default())) != "GdkX11Display") GTEST_SKIP() << "not X11";
    TabGroupWindow& group = makeWindow();
    DocumentPage& page = addPage(group, "narrow.md");
    renderIn(page, "# Narrow\n\ntext\n");
    ASSERT_TRUE(test::waitFor([&] { return group.width() >= 900 && page.isSidebarShown(); }));
    GtkWidget* tabView = GTK_WIDGET(group.tabView());
    GtkWidget* root = GTK_WIDGET(group.window());
    // What the window shows: its tabs and page laid out across the window's
    // width (the X window also holds the window's resize borders).
    const auto drawnAt = [&](int width) {
        const int inner = gtk_widget_get_width(root);
        return inner <= width && inner >= width - 40 && gtk_widget_get_width(tabView) == inner &&
               gtk_widget_get_width(page.widget()) == inner && gtk_widget_get_mapped(page.widget()) &&
               gtk_widget_get_width(group.menuButton()) > 0 && coloursAtTheTop(group.window(), 48) > 8;
    };
    for (const auto& [width, sidebar] : {std::pair{800, false}, std::pair{1100, true}, std::pair{780, false},
                                         std::pair{1000, true}}) {
        SCOPED_TRACE(width);
        ASSERT_TRUE(resizeOnX(group.window(), width, 700));
        EXPECT_TRUE(test::waitFor([&] { return drawnAt(width) && page.isSidebarShown() == sidebar; }))
            << "window " << gtk_widget_get_width(root) << ", tabs " << gtk_widget_get_width(tabView) << ", page "
            << gtk_widget_get_width(page.widget()) << ", colours in the header bar "
            << coloursAtTheTop(group.window(), 48);
    }
}

// The page shows a ring in the theme's focus colour along its edge as the
// keyboard moves the focus onto it (F6, Tab), until the next other key
// (reading on with Page Down) or until the focus goes: never for a focus
// given otherwise, and never as a frame that stays while the page scrolls.
TEST_F(TabGroupWindowDisplay, ThePageShowsItsRingWhenTheKeyboardMovesTheFocusOntoIt) {
    test::closeLeftMessages();
    WindowTheme::apply(ThemeCatalog::theme(ThemeID::porcelain));
    TabGroupWindow& group = makeWindow();
    DocumentPage& page = addPage(group, "focus.md");
    renderIn(page, "# Focus\n\ntext\n");
    GtkWidget* view = GTK_WIDGET(page.readerView()->webView());
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(test::waitFor([&] { return page.isSidebarShown() && gtk_widget_get_mapped(view); }));
    graphene_point_t inView = GRAPHENE_POINT_INIT(1.0f, gtk_widget_get_height(view) / 2.0f);
    graphene_point_t inWindow{};
    ASSERT_TRUE(gtk_widget_compute_point(view, GTK_WIDGET(group.window()), &inView, &inWindow));
    constexpr guint32 focusColour = 0xFF335CCC;  // porcelain's
    // Whether the page's edge (give or take the window's own border) is
    // drawn in the focus colour.
    const auto ringed = [&] {
        for (int dx = -2; dx <= 6; ++dx) {
            if (pixelAt(group.window(), static_cast<int>(inWindow.x) + dx, static_cast<int>(inWindow.y)) == focusColour)
                return true;
        }
        return false;
    };
    GtkWidget* outline = GTK_WIDGET(page.outline().listView());
    const auto focusIn = [&](GtkWidget* widget) {
        GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(group.window()));
        return focus && (focus == widget || gtk_widget_is_ancestor(focus, widget));
    };

    ASSERT_TRUE(gtk_widget_grab_focus(view));
    gtk_window_set_focus_visible(group.window(), TRUE);
    test::runMainLoopUntil([] { return false; }, 50);
    EXPECT_FALSE(ringed()) << "a focus the keyboard did not move";

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(test::pressKey(group.window(), XK_F6));
        ASSERT_TRUE(test::waitFor([&] { return focusIn(outline); })) << "F6 left the page";
        ASSERT_TRUE(test::pressKey(group.window(), XK_F6));
        ASSERT_TRUE(test::waitFor([&] { return focusIn(view); })) << "F6 came back to the page";
        EXPECT_TRUE(test::waitFor([&] { return ringed(); }));
        ASSERT_TRUE(test::pressKey(group.window(), XK_Page_Down));
        EXPECT_TRUE(test::waitFor([&] { return !ringed(); })) << "the ring stays while reading on";
        EXPECT_TRUE(focusIn(view));
    }
    ASSERT_TRUE(test::pressKey(group.window(), XK_F6));
    ASSERT_TRUE(test::waitFor([&] { return focusIn(outline); }));
    ASSERT_TRUE(test::pressKey(group.window(), XK_F6));
    ASSERT_TRUE(test::waitFor([&] { return focusIn(view) && ringed(); }));
    ASSERT_TRUE(gtk_widget_grab_focus(group.findButton()));
    EXPECT_TRUE(test::waitFor([&] { return !ringed(); })) << "the ring goes with the focus";
}

TEST_F(TabGroupWindowDisplay, CtrlESearchesForThePagesSelection) {
    TabGroupWindow& group = makeWindow();
    DocumentPage& page = addPage(group, "hay.md");
    renderIn(page, "# Hay\n\nOne needle\n\nAnother needle there.\n");
    // The last word of the first paragraph with the space before it and the
    // paragraph's break after it.
    const nlohmann::json selected = scriptIn(page, R"(
        const text = document.querySelectorAll('p')[0].firstChild;
        const start = text.data.indexOf(' needle');
        const range = document.createRange();
        range.setStart(text, start);
        range.setEnd(document.querySelectorAll('p')[1].firstChild, 0);
        const selection = window.getSelection();
        selection.removeAllRanges();
        selection.addRange(range);
        return String(selection);)");
    ASSERT_TRUE(selected.is_string());
    ASSERT_NE(selected.get<std::string>().find('\n'), std::string::npos) << selected;
    EXPECT_FALSE(page.findBar()->state().isVisible);

    ASSERT_TRUE(pressShortcut(group, "<Control>e"));
    GtkWidget* counter = page.findBarView()->countLabel();
    ASSERT_TRUE(test::waitFor([&] { return std::string(gtk_label_get_text(GTK_LABEL(counter))) == "1 / 2"; }))
        << gtk_label_get_text(GTK_LABEL(counter));
    EXPECT_TRUE(gtk_revealer_get_reveal_child(GTK_REVEALER(page.findBarView()->widget())));
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(page.findBarView()->searchField())), "needle");
    EXPECT_EQ(page.findBar()->state().query, "needle");
    // The match shown is marked at once, the other as its block comes near.
    EXPECT_TRUE(test::waitFor(
        [&] { return scriptIn(page, "return document.querySelectorAll('mark.md-find').length;") == 2; }))
        << scriptIn(page, "return document.querySelectorAll('mark.md-find').length;");

    // Nothing selected: the bar keeps its query.
    scriptIn(page, "window.getSelection().removeAllRanges(); return 0;");
    ASSERT_TRUE(pressShortcut(group, "<Control>e"));
    scriptIn(page, "return 0;");  // answered after the selection script
    test::runMainLoopUntil([] { return false; }, 4);
    EXPECT_EQ(page.findBar()->state().query, "needle");
}

TEST_F(TabGroupWindowDisplay, AClosedPageLetsGoOfItsHandlersAndAPageMayRefuseToClose) {
    TabGroupWindow& group = makeWindow();
    DocumentPage& page = addPage(group, "kept.md");
    std::shared_ptr<TestDocument> document = documents.back();

    pageOwner->holdCloses = true;
    adw_tab_view_close_page(group.tabView(), adw_tab_view_get_nth_page(group.tabView(), 0));
    ASSERT_EQ(pageOwner->held.size(), 1u);
    EXPECT_EQ(group.pages().size(), 1u) << "the close waits for the owner's answer";
    std::exchange(pageOwner->held, {}).front()(false);
    EXPECT_EQ(group.pages().size(), 1u);

    // The widgets outlive the page here, as in a window still being torn down.
    GObjectPtr<GtkWidget> paned = GObjectPtr<GtkWidget>::retain(GTK_WIDGET(page.paned()));
    GObjectPtr<GtkSingleSelection> selection =
        GObjectPtr<GtkSingleSelection>::retain(page.outline().selection());
    pageOwner->holdCloses = false;
    adw_tab_view_close_page(group.tabView(), adw_tab_view_get_nth_page(group.tabView(), 0));
    EXPECT_TRUE(group.pages().empty());
    // The reader, still held, tells the page nothing any more.
    const auto stray = ReaderBridge::create("kept.md", "stray");
    document->controller->bridgeDidReportActiveHeading(*stray, ActiveHeadingPayload{"gone", 0});
    gtk_paned_set_position(GTK_PANED(paned.get()), 300);
    gtk_selection_model_select_item(GTK_SELECTION_MODEL(selection.get()), 0, TRUE);
    EXPECT_EQ(gtk_widget_get_root(document->view->widget()), nullptr);
}

// Nobody left to review a close (the program's controller is gone): a tab
// whose document has unsaved text stays, and one without closes.
TEST_F(TabGroupWindowDisplay, WithItsOwnerGoneOnlyATabWithoutUnsavedTextCloses) {
    TabGroupWindow& group = makeWindow();
    addPage(group, "edited.md");
    ASSERT_TRUE(documents.back()->document->model().replaceAll("# Edited\n"));
    ASSERT_TRUE(documents.back()->document->isEdited());
    addPage(group, "clean.md");
    pageOwner.reset();
    adw_tab_view_close_page(group.tabView(), adw_tab_view_get_nth_page(group.tabView(), 0));
    adw_tab_view_close_page(group.tabView(), adw_tab_view_get_nth_page(group.tabView(), 1));
    ASSERT_EQ(group.pages().size(), 1u);
    EXPECT_EQ(&group.pages().front()->document(), documents.front()->document.get());
}

TEST_F(TabGroupWindowDisplay, TheOutlineShowsTheRenderedHeadingsAndAClickScrollsThePage) {
    TabGroupWindow& group = makeWindow();
    DocumentPage& page = addPage(group, "long.md");
    std::string text = "# First\n\n";
    for (int i = 0; i < 120; ++i) text += "Paragraph " + std::to_string(i) + " of filler text.\n\n";
    text += "## Second\n\nmore\n\n# Last\n\n";
    for (int i = 0; i < 40; ++i) text += "Tail " + std::to_string(i) + ".\n\n";
    renderIn(page, text);

    OutlineSidebar& outline = page.outline();
    GListModel* rows = G_LIST_MODEL(outline.selection());
    ASSERT_EQ(g_list_model_get_n_items(rows), 3u);
    EXPECT_FALSE(gtk_widget_get_visible(outline.emptyLabel()));
    ASSERT_EQ(outline.outline().tree().nodes.size(), 3u);
    EXPECT_EQ(outline.outline().tree().nodes[2].heading.text, "Last");

    // A user's pick scrolls the page to the heading.
    ASSERT_EQ(scriptIn(page, "return window.scrollY;").get<double>(), 0.0);
    gtk_selection_model_select_item(GTK_SELECTION_MODEL(outline.selection()), 2, TRUE);
    EXPECT_TRUE(test::waitFor([&] {
        return scriptIn(page, "return window.scrollY;").get<double>() > 0;
    })) << "the page did not scroll";
    // The page's active heading follows, and the highlight with it.
    EXPECT_TRUE(test::waitFor([&] { return outline.outline().currentHeadingID().has_value(); }));
}

// The list's own click gesture, as a click at the middle of row `position`.
void clickRow(OutlineSidebar& outline, unsigned position) {
    GtkWidget* list = GTK_WIDGET(outline.listView());
    GtkWidget* rowWidget = nullptr;
    for (GtkWidget* child = gtk_widget_get_first_child(list); child && !rowWidget;
         child = gtk_widget_get_next_sibling(child)) {
        GtkWidget* expander = gtk_widget_get_first_child(child);
        if (!expander || !GTK_IS_TREE_EXPANDER(expander)) continue;
        GtkTreeListRow* row = gtk_tree_expander_get_list_row(GTK_TREE_EXPANDER(expander));
        if (row && gtk_tree_list_row_get_position(row) == position) rowWidget = child;
    }
    ASSERT_NE(rowWidget, nullptr) << "row " << position;
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(rowWidget, list, &bounds));
    const double x = bounds.origin.x + bounds.size.width / 2;
    const double y = bounds.origin.y + bounds.size.height / 2;
    GtkGesture* primary = nullptr;
    GListModel* controllers = gtk_widget_observe_controllers(list);
    for (unsigned index = 0; index < g_list_model_get_n_items(controllers); ++index) {
        auto* controller = static_cast<GObject*>(g_list_model_get_item(controllers, index));
        if (GTK_IS_GESTURE_CLICK(controller) &&
            gtk_gesture_single_get_button(GTK_GESTURE_SINGLE(controller)) == GDK_BUTTON_PRIMARY) {
            primary = GTK_GESTURE(controller);
        }
        g_object_unref(controller);
    }
    g_object_unref(controllers);
    ASSERT_NE(primary, nullptr);
    g_signal_emit_by_name(primary, "pressed", 1, x, y);
    g_signal_emit_by_name(primary, "released", 1, x, y);
}

// Every click on a row scrolls the page to its heading, the highlighted row's
// too (back to the heading after reading on inside its section), and says
// so in the log; the sidebar is never wider than 360.
TEST_F(TabGroupWindowDisplay, EveryClickOnARowScrollsAndTheSidebarHasAMaximum) {
    test::LogCapture log;
    AppLog::setRevealPrivateForTesting(true);
    TabGroupWindow& group = makeWindow();
    DocumentPage& page = addPage(group, "long.md");
    std::string text = "# First\n\n";
    for (int i = 0; i < 120; ++i) text += "Paragraph " + std::to_string(i) + " of filler text.\n\n";
    text += "# Last\n\n";
    for (int i = 0; i < 120; ++i) text += "Tail " + std::to_string(i) + ".\n\n";
    renderIn(page, text);
    OutlineSidebar& outline = page.outline();
    ASSERT_EQ(g_list_model_get_n_items(G_LIST_MODEL(outline.selection())), 2u);
    const std::string last = outline.outline().tree().nodes[1].heading.id;
    auto scrollY = [&] { return scriptIn(page, "return window.scrollY;").get<double>(); };

    ASSERT_TRUE(test::waitFor([&] { return gtk_widget_get_mapped(GTK_WIDGET(outline.listView())); }));
    clickRow(outline, 1);
    ASSERT_TRUE(test::waitFor([&] { return scrollY() > 0; })) << "the page did not scroll";
    ASSERT_TRUE(test::waitFor([&] {
        return outline.outline().currentHeadingID() == last &&
               gtk_single_selection_get_selected(outline.selection()) == 1u;
    }));
    const double headingTop = scrollY();
    // The page scrolls before its answer reaches the log.
    EXPECT_TRUE(test::waitFor([&] { return log.contains("document", "TOC 定位 " + last + "：found=true"); }));

    // Read on inside the section: the row stays highlighted.
    scriptIn(page, "window.scrollBy(0, 400); return window.scrollY;");
    ASSERT_TRUE(test::waitFor([&] { return scrollY() > headingTop + 300; }));
    ASSERT_EQ(gtk_single_selection_get_selected(outline.selection()), 1u);
    clickRow(outline, 1);
    EXPECT_TRUE(test::waitFor([&] { return std::abs(scrollY() - headingTop) < 2; }))
        << "a click on the highlighted row brings its heading back";

    gtk_paned_set_position(page.paned(), 600);
    EXPECT_EQ(gtk_paned_get_position(page.paned()), 360);
    gtk_paned_set_position(page.paned(), 300);
    EXPECT_EQ(gtk_paned_get_position(page.paned()), 300);
    AppLog::setRevealPrivateForTesting(std::nullopt);
}

// A tab dragged out of its bar and dropped on the bare screen, where no
// window is (X11 hands such a drop to the toolkit and reports nothing more),
// ends in a window of its own, with its page and reader; the document is
// never left without a page on screen.
TEST_F(TabGroupWindowDisplay, ATabDroppedOnTheBareScreenGetsAWindowOfItsOwn) {
    if (std::string(G_OBJECT_TYPE_NAME(gdk_display_get_default())) != "GdkX11Display") GTEST_SKIP() << "not X11";
    FakePointer pointer;
    if (!pointer.available()) GTEST_SKIP() << "no XTest on this display";
    TabGroupWindow& group = makeWindow();
    addPage(group, "alpha.md");
    DocumentPage& beta = addPage(group, "beta.md");
    GtkWidget* bar = group.tabBar();
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(group.window()));
    ASSERT_TRUE(test::waitFor([&] {
        return gdk_surface_get_mapped(surface) && gtk_widget_get_width(bar) > 100 && gtk_widget_get_height(bar) > 20;
    }));
    // No window manager here: the window's surface is at the top left of the
    // screen. The second tab is the bar's right half.
    graphene_point_t inBar = GRAPHENE_POINT_INIT(gtk_widget_get_width(bar) * 0.75f, gtk_widget_get_height(bar) / 2.0f);
    graphene_point_t inWindow{};
    ASSERT_TRUE(gtk_widget_compute_point(bar, GTK_WIDGET(group.window()), &inBar, &inWindow));
    double surfaceX = 0, surfaceY = 0;
    gtk_native_get_surface_transform(GTK_NATIVE(group.window()), &surfaceX, &surfaceY);
    const int x = static_cast<int>(inWindow.x + surfaceX);
    const int y = static_cast<int>(inWindow.y + surfaceY);
    const int below = gdk_surface_get_height(surface) + 40;

    // The screen around the window bare: windows left by earlier tests (a
    // message dialog) hidden.
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint index = 0; index < g_list_model_get_n_items(toplevels); ++index) {
        auto* other = GTK_WIDGET(g_list_model_get_item(toplevels, index));
        if (other != GTK_WIDGET(group.window())) gtk_widget_set_visible(other, FALSE);
        g_object_unref(other);
    }
    test::runMainLoopUntil([] { return false; }, 20);
    pointer.moveTo(x, y);
    pointer.button(true);
    for (int step = y + 4; step < below; step += 24) pointer.moveTo(x, step);
    pointer.moveTo(x, below);
    pointer.button(false);

    ASSERT_TRUE(test::waitFor([&] { return pageServices.tabGroups.all().size() == 2; }, std::chrono::seconds(15)))
        << "the dropped tab found no window";
    TabGroupWindow* own = pageServices.tabGroups.all().back();
    track(own->window());
    EXPECT_EQ(own->pages(), std::vector<DocumentPage*>{&beta});
    EXPECT_EQ(group.pages().size(), 1u);
    EXPECT_EQ(gtk_widget_get_root(beta.widget()), GTK_ROOT(own->window()));
    EXPECT_EQ(pageServices.tabGroups.pageOf(beta.widget()), &beta);
    EXPECT_EQ(pageServices.tabGroups.sessionSnapshot().groups.size(), 2u) << "both windows are kept";
}

}  // namespace
}  // namespace larkspin

