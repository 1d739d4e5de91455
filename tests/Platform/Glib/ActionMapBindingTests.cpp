// A table's actions as GActions: what menus and accelerators see of them,
// and what activating them does.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "Platform/Glib/ActionMapBinding.hpp"
#include "Platform/Glib/GObjectPtr.hpp"

namespace larkspin {
namespace {

struct Model {
    std::string choice = "b";
    bool toggled = false;
    bool canGrow = true;
    int grown = 0;
};

ActionTable tableOver(Model& m) {
    return ActionTable({
        AppAction{.name = "grow",
                  .activate = [&m](const AppAction::Target&) { ++m.grown; m.canGrow = false; },
                  .validate = [&m](const AppAction::Target&) { return MenuItemValidation{m.canGrow, std::nullopt}; }},
        AppAction{.name = "toggle",
                  .activate = [&m](const AppAction::Target&) { m.toggled = !m.toggled; },
                  .validate = [&m](const AppAction::Target&) {
                      return MenuItemValidation{true, m.toggled ? MenuItemState::on : MenuItemState::off};
                  }},
        AppAction{.name = "choose",
                  .takesTarget = true,
                  .activate = [&m](const AppAction::Target& t) { if (t && *t != "z") m.choice = *t; },
                  .validate = [&m](const AppAction::Target& t) {
                      return MenuItemValidation{true, t == m.choice ? MenuItemState::on : MenuItemState::off};
                  },
                  .targets = {"a", "b"}},
    });
}

std::string stringState(GActionGroup* group, const char* name) {
    GVariant* state = g_action_group_get_action_state(group, name);
    std::string text = state ? g_variant_get_string(state, nullptr) : "(none)";
    if (state) g_variant_unref(state);
    return text;
}

std::optional<bool> boolState(GActionGroup* group, const char* name) {
    GVariant* state = g_action_group_get_action_state(group, name);
    if (!state) return std::nullopt;
    const bool value = g_variant_get_boolean(state);
    g_variant_unref(state);
    return value;
}

TEST(ActionMapBinding, ActionsShowAndFollowTheTable) {
    Model m;
    const ActionTable table = tableOver(m);
    auto group = GObjectPtr<GSimpleActionGroup>::adopt(g_simple_action_group_new());
    auto* asGroup = G_ACTION_GROUP(group.get());
    {
        ActionMapBinding binding(G_ACTION_MAP(group.get()), table);
        EXPECT_TRUE(g_action_group_get_action_enabled(asGroup, "grow"));
        EXPECT_EQ(boolState(asGroup, "grow"), std::nullopt);  // a plain item
        EXPECT_EQ(boolState(asGroup, "toggle"), false);       // a check item
        EXPECT_EQ(stringState(asGroup, "choose"), "b");       // radio items

        g_action_group_activate_action(asGroup, "grow", nullptr);
        EXPECT_EQ(m.grown, 1);
        EXPECT_FALSE(g_action_group_get_action_enabled(asGroup, "grow"));  // refreshed after
        g_action_group_activate_action(asGroup, "toggle", nullptr);
        EXPECT_EQ(boolState(asGroup, "toggle"), true);
        g_action_group_activate_action(asGroup, "choose", g_variant_new_string("a"));
        EXPECT_EQ(stringState(asGroup, "choose"), "a");
        g_action_group_activate_action(asGroup, "choose", g_variant_new_string("z"));
        EXPECT_EQ(m.choice, "a");

        // A change made elsewhere shows at the next refresh.
        m.choice = "x";
        m.canGrow = true;
        binding.refresh();
        EXPECT_EQ(stringState(asGroup, "choose"), "");
        EXPECT_TRUE(g_action_group_get_action_enabled(asGroup, "grow"));
    }
    EXPECT_FALSE(g_action_group_has_action(asGroup, "grow"));  // removed with the binding
}

// Rebound to another table of the same shape (the tab now selected), the
// actions stay in the map and answer for the new table at once: enabled,
// marks and activations are the new table's. Actions of another kind or name
// are replaced, and those the new table lacks go.
TEST(ActionMapBinding, ARebindAnswersForTheNewTableAtOnce) {
    Model first;
    Model second;
    second.canGrow = false;
    second.toggled = true;
    second.choice = "a";
    const ActionTable firstTable = tableOver(first);
    const ActionTable secondTable = tableOver(second);
    auto group = GObjectPtr<GSimpleActionGroup>::adopt(g_simple_action_group_new());
    auto* asGroup = G_ACTION_GROUP(group.get());
    auto* asMap = G_ACTION_MAP(group.get());
    ActionMapBinding binding(asMap, firstTable);
    GAction* grow = g_action_map_lookup_action(asMap, "grow");
    ASSERT_TRUE(g_action_group_get_action_enabled(asGroup, "grow"));

    binding.rebind(secondTable);
    EXPECT_EQ(g_action_map_lookup_action(asMap, "grow"), grow) << "kept, not replaced";
    EXPECT_FALSE(g_action_group_get_action_enabled(asGroup, "grow"));
    EXPECT_EQ(boolState(asGroup, "toggle"), true);
    EXPECT_EQ(stringState(asGroup, "choose"), "a");
    g_action_group_activate_action(asGroup, "toggle", nullptr);
    EXPECT_FALSE(second.toggled);
    EXPECT_FALSE(first.toggled) << "the table bound before hears nothing";

    binding.rebind(firstTable);
    EXPECT_TRUE(g_action_group_get_action_enabled(asGroup, "grow"));
    EXPECT_EQ(boolState(asGroup, "toggle"), false);
    EXPECT_EQ(stringState(asGroup, "choose"), "b");

    // Another shape: a plain "toggle", no "choose", a new "shrink".
    Model third;
    const ActionTable other({
        AppAction{.name = "toggle",
                  .activate = [&third](const AppAction::Target&) { ++third.grown; },
                  .validate = [](const AppAction::Target&) { return MenuItemValidation{false, std::nullopt}; }},
        AppAction{.name = "shrink",
                  .activate = [](const AppAction::Target&) {},
                  .validate = [](const AppAction::Target&) { return MenuItemValidation{true, std::nullopt}; }},
    });
    binding.rebind(other);
    EXPECT_FALSE(g_action_group_has_action(asGroup, "grow"));
    EXPECT_FALSE(g_action_group_has_action(asGroup, "choose"));
    EXPECT_TRUE(g_action_group_get_action_enabled(asGroup, "shrink"));
    EXPECT_EQ(boolState(asGroup, "toggle"), std::nullopt) << "a plain action now";
    EXPECT_FALSE(g_action_group_get_action_enabled(asGroup, "toggle"));
}

TEST(ActionMapBinding, AnActivationMayEndTheBinding) {
    auto group = GObjectPtr<GSimpleActionGroup>::adopt(g_simple_action_group_new());
    std::unique_ptr<ActionMapBinding> binding;
    const ActionTable table({AppAction{
        .name = "close",
        .activate = [&binding](const AppAction::Target&) { binding.reset(); },
        .validate = [](const AppAction::Target&) { return MenuItemValidation{}; }}});
    binding = std::make_unique<ActionMapBinding>(G_ACTION_MAP(group.get()), table);
    g_action_group_activate_action(G_ACTION_GROUP(group.get()), "close", nullptr);
    EXPECT_EQ(binding, nullptr);
}

}  // namespace
}  // namespace larkspin
