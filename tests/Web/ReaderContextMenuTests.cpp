#include <gtest/gtest.h>
#include <webkit/webkit.h>

#include <vector>

#include "Web/FilePathMenu.hpp"
#include "Web/ReaderContextMenu.hpp"

namespace larkspin {
namespace {

ContextMenuEntry stock(WebKitContextMenuAction action) {
    return {false, action, "", ReaderContextMenu::isInert(action)};
}
ContextMenuEntry separator() {
    return {true, WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION, ""};
}
ContextMenuEntry ours(std::string_view identifier) {
    return {false, WEBKIT_CONTEXT_MENU_ACTION_CUSTOM, std::string(identifier)};
}

std::vector<ContextMenuEntry> kept(const std::vector<ContextMenuEntry>& entries) {
    const std::vector<bool> flags = keptContextMenuEntries(entries);
    std::vector<ContextMenuEntry> remaining;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (flags[i]) remaining.push_back(entries[i]);
    }
    return remaining;
}

TEST(ReaderContextMenu, MenuOfOnlyInertItemsEndsEmpty) {
    EXPECT_TRUE(
        kept({stock(WEBKIT_CONTEXT_MENU_ACTION_GO_BACK),
              stock(WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD), stock(WEBKIT_CONTEXT_MENU_ACTION_STOP),
              separator(), stock(WEBKIT_CONTEXT_MENU_ACTION_RELOAD), separator()})
            .empty());
    EXPECT_TRUE(kept({}).empty());
}

TEST(ReaderContextMenu, LinkMenuKeepsCopyItemsAndOneSeparator) {
    const std::vector<ContextMenuEntry> linkMenu{
        stock(WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK),
        stock(WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW),
        stock(WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK),
        stock(WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD),
        separator(),
        stock(WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW),
        stock(WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK),
        separator(),
        stock(WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD),
        stock(WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_URL_TO_CLIPBOARD),
        separator(),
        stock(WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW),
        stock(WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK),
        separator(),
    };
    const std::vector<ContextMenuEntry> expected{
        stock(WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD),
        separator(),
        stock(WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD),
        stock(WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_URL_TO_CLIPBOARD),
    };
    EXPECT_EQ(kept(linkMenu), expected);
}

TEST(ReaderContextMenu, SeparatorsAtTheEdgesGo) {
    const std::vector<ContextMenuEntry> menu{separator(),
                                             separator(),
                                             stock(WEBKIT_CONTEXT_MENU_ACTION_COPY),
                                             stock(WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL),
                                             separator(),
                                             separator(),
                                             stock(WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT),
                                             separator()};
    const std::vector<ContextMenuEntry> expected{
        stock(WEBKIT_CONTEXT_MENU_ACTION_COPY), stock(WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL),
        separator(), stock(WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT)};
    EXPECT_EQ(kept(menu), expected);
    EXPECT_FALSE(ReaderContextMenu::isInert(WEBKIT_CONTEXT_MENU_ACTION_COPY));
    EXPECT_FALSE(ReaderContextMenu::isInert(WEBKIT_CONTEXT_MENU_ACTION_PASTE));
    EXPECT_TRUE(ReaderContextMenu::isInert(WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW));
}

TEST(FilePathMenu, AppendPlan) {
    using Plan = FilePathMenu::AppendPlan;
    EXPECT_EQ(FilePathMenu::planAppend({}), (Plan{.separator = false, .items = true}));
    const std::vector<ContextMenuEntry> copyOnly{stock(WEBKIT_CONTEXT_MENU_ACTION_COPY)};
    EXPECT_EQ(FilePathMenu::planAppend(copyOnly), (Plan{.separator = true, .items = true}));
    const std::vector<ContextMenuEntry> done{stock(WEBKIT_CONTEXT_MENU_ACTION_COPY), separator(),
                                             ours(FilePathMenu::copyPathIdentifier),
                                             ours(FilePathMenu::revealIdentifier)};
    EXPECT_EQ(FilePathMenu::planAppend(done), Plan{});
    const std::vector<ContextMenuEntry> revealOnly{ours(FilePathMenu::revealIdentifier)};
    EXPECT_EQ(FilePathMenu::planAppend(revealOnly), (Plan{.separator = true, .items = true}));
}

TEST(FilePathMenu, ItemsAndTheirGMenuForm) {
    const auto items = FilePathMenu::describeItems();
    EXPECT_EQ(items[0].title, "复制文件路径");
    EXPECT_EQ(items[0].action, "win.copy-file-path");
    EXPECT_EQ(items[0].identifier, "Orvik.file.copyPath");
    EXPECT_EQ(items[1].title, "在文件管理器中显示");
    EXPECT_EQ(items[1].action, "win.reveal-in-file-manager");
    EXPECT_EQ(items[1].identifier, "Orvik.file.revealInFinder");

    const auto first = FilePathMenu::makeItems();
    const auto second = FilePathMenu::makeItems();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_NE(first[0].get(), second[0].get());  // a new pair each time

    const auto menu = FilePathMenu::makeContextMenu();
    ASSERT_EQ(g_menu_model_get_n_items(G_MENU_MODEL(menu.get())), 2);
    for (int i = 0; i < 2; ++i) {
        gchar* label = nullptr;
        gchar* action = nullptr;
        gchar* identifier = nullptr;
        g_menu_model_get_item_attribute(G_MENU_MODEL(menu.get()), i, G_MENU_ATTRIBUTE_LABEL, "s",
                                        &label);
        g_menu_model_get_item_attribute(G_MENU_MODEL(menu.get()), i, G_MENU_ATTRIBUTE_ACTION, "s",
                                        &action);
        g_menu_model_get_item_attribute(G_MENU_MODEL(menu.get()), i,
                                        FilePathMenu::identifierAttribute, "s", &identifier);
        EXPECT_EQ(std::string(label), items[i].title);
        EXPECT_EQ(std::string(action), items[i].action);
        EXPECT_EQ(std::string(identifier), items[i].identifier);
        g_free(label);
        g_free(action);
        g_free(identifier);
    }
}

}  // namespace
}  // namespace larkspin
