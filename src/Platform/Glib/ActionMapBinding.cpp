#include "Platform/Glib/ActionMapBinding.hpp"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Async/MainThread.hpp"

namespace larkspin {

namespace {

// The target whose item is on, "" when none is.
std::string targetThatIsOn(const AppAction& action) {
    for (const std::string& target : action.targets) {
        if (action.validate(target).state == MenuItemState::on) return target;
    }
    return {};
}

bool anyTargetEnabled(const AppAction& action) {
    if (action.targets.empty()) return action.validate(std::nullopt).enabled;
    for (const std::string& target : action.targets) {
        if (action.validate(target).enabled) return true;
    }
    return false;
}

GSimpleAction* makeAction(const AppAction& action) {
    const std::string name(action.name);
    if (action.takesTarget) {
        if (action.targets.empty()) return g_simple_action_new(name.c_str(), G_VARIANT_TYPE_STRING);
        return g_simple_action_new_stateful(name.c_str(), G_VARIANT_TYPE_STRING,
                                            g_variant_new_string(targetThatIsOn(action).c_str()));
    }
    const MenuItemValidation shown = action.validate(std::nullopt);
    if (!shown.state) return g_simple_action_new(name.c_str(), nullptr);
    return g_simple_action_new_stateful(name.c_str(), nullptr,
                                        g_variant_new_boolean(*shown.state == MenuItemState::on));
}

// Whether `action` makes a GAction of the same parameter and state types as
// `present`.
bool sameKind(const AppAction& action, GAction* present) {
    const bool stateful = action.takesTarget ? !action.targets.empty()
                                             : action.validate(std::nullopt).state.has_value();
    return action.takesTarget == (g_action_get_parameter_type(present) != nullptr) &&
           stateful == (g_action_get_state_type(present) != nullptr);
}

}  // namespace

ActionMapBinding::ActionMapBinding(GActionMap* map, const ActionTable& table) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    g_weak_ref_init(&map_, map);
    for (const AppAction& action : table.all()) add(map, action);
}

ActionMapBinding::~ActionMapBinding() {
    *alive_ = false;
    // A map already gone took its actions with it.
    auto map = GObjectPtr<GObject>::adopt(static_cast<GObject*>(g_weak_ref_get(&map_)));
    g_weak_ref_clear(&map_);
    for (const auto& bound : bound_) remove(map ? G_ACTION_MAP(map.get()) : nullptr, *bound);
}

void ActionMapBinding::add(GActionMap* map, const AppAction& action) {
    auto bound = std::make_unique<Bound>();
    bound->action = &action;
    bound->owner = this;
    bound->gaction = GObjectPtr<GSimpleAction>::adopt(makeAction(action));
    g_signal_connect(bound->gaction.get(), "activate", G_CALLBACK(&ActionMapBinding::activated), bound.get());
    refresh(*bound);
    g_action_map_add_action(map, G_ACTION(bound->gaction.get()));
    bound_.push_back(std::move(bound));
}

void ActionMapBinding::remove(GActionMap* map, const Bound& bound) {
    g_signal_handlers_disconnect_by_data(bound.gaction.get(), const_cast<Bound*>(&bound));
    if (!map) return;
    const char* name = g_action_get_name(G_ACTION(bound.gaction.get()));
    // Only ours: another binding may have put an action of that name since.
    if (g_action_map_lookup_action(map, name) == G_ACTION(bound.gaction.get())) {
        g_action_map_remove_action(map, name);
    }
}

void ActionMapBinding::rebind(const ActionTable& table) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    auto map = GObjectPtr<GObject>::adopt(static_cast<GObject*>(g_weak_ref_get(&map_)));
    if (!map) return;
    GActionMap* actions = G_ACTION_MAP(map.get());
    std::vector<std::unique_ptr<Bound>> previous = std::move(bound_);
    bound_.clear();
    std::vector<const AppAction*> added;
    for (const AppAction& action : table.all()) {
        const auto same = std::find_if(previous.begin(), previous.end(), [&](const std::unique_ptr<Bound>& bound) {
            return bound && bound->action->name == action.name && sameKind(action, G_ACTION(bound->gaction.get()));
        });
        if (same == previous.end()) {
            added.push_back(&action);
            continue;
        }
        (*same)->action = &action;
        refresh(**same);
        bound_.push_back(std::move(*same));
    }
    for (const auto& bound : previous) {
        if (bound) remove(actions, *bound);
    }
    for (const AppAction* action : added) add(actions, *action);
}

void ActionMapBinding::refresh() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    for (const auto& bound : bound_) refresh(*bound);
}

void ActionMapBinding::refresh(Bound& bound) {
    const AppAction& action = *bound.action;
    GSimpleAction* gaction = bound.gaction.get();
    GAction* asAction = G_ACTION(gaction);
    if (action.takesTarget) {
        g_simple_action_set_enabled(gaction, anyTargetEnabled(action));
        if (g_action_get_state_type(asAction) != nullptr) {
            g_simple_action_set_state(gaction, g_variant_new_string(targetThatIsOn(action).c_str()));
        }
        return;
    }
    const MenuItemValidation shown = action.validate(std::nullopt);
    g_simple_action_set_enabled(gaction, shown.enabled);
    if (g_action_get_state_type(asAction) != nullptr && shown.state) {
        g_simple_action_set_state(gaction, g_variant_new_boolean(*shown.state == MenuItemState::on));
    }
}

void ActionMapBinding::activated(GSimpleAction* action, GVariant* parameter, gpointer data) {
    // The action lives through its own activation, even when that ends us.
    const auto keep = GObjectPtr<GSimpleAction>::retain(action);
    auto* bound = static_cast<Bound*>(data);
    AppAction::Target target;
    if (parameter && g_variant_is_of_type(parameter, G_VARIANT_TYPE_STRING)) {
        target = std::string(g_variant_get_string(parameter, nullptr));
    }
    ActionMapBinding* owner = bound->owner;
    const std::shared_ptr<bool> alive = owner->alive_;
    bound->action->activate(target);
    // The activation may have changed what any action shows, or ended the
    // binding's owner.
    if (*alive) owner->refresh();
}

}  // namespace larkspin
