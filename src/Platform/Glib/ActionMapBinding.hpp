#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>
#include <vector>

#include "Platform/Actions/ActionTable.hpp"
#include "Platform/Glib/GObjectPtr.hpp"

namespace larkspin {

// The actions of an ActionTable as GActions of one GActionMap (the
// application, a window, or a group a widget inserts), so that menu items
// and accelerators reach them by "prefix.name":
// - an action without targets is a plain action, or a boolean stateful one
//   (a check item) when its validation gives a mark;
// - an action with targets takes a string parameter; when the table lists its
//   targets it is also stateful, its state the target that is on ("" when
//   none is), which GMenu shows as radio items.
// Enabled and state follow the table's answers at each refresh(), and after
// each activation. Removes its actions from the map when it goes. The map and
// the table must outlive it. Main thread.
class ActionMapBinding {
public:
    ActionMapBinding(GActionMap* map, const ActionTable& table);
    ~ActionMapBinding();
    ActionMapBinding(const ActionMapBinding&) = delete;
    ActionMapBinding& operator=(const ActionMapBinding&) = delete;

    // Asks every action again whether it is enabled and how its items show.
    void refresh();
    // Binds the same map to `table` instead. Actions of the same name and
    // kind stay in the map and answer for `table` from now on, so that
    // switching between tables of one shape adds and removes nothing (each
    // addition or removal reaches every widget that watches the map's
    // actions); the others are removed or added.
    void rebind(const ActionTable& table);

private:
    struct Bound {
        const AppAction* action = nullptr;
        GObjectPtr<GSimpleAction> gaction;
        ActionMapBinding* owner = nullptr;
    };

    void refresh(Bound& bound);
    void add(GActionMap* map, const AppAction& action);
    void remove(GActionMap* map, const Bound& bound);
    static void activated(GSimpleAction* action, GVariant* parameter, gpointer data);

    // Held weakly: a strong hold would keep a window alive (never disposed,
    // its "destroy" never emitted) for as long as its owner keeps the binding.
    GWeakRef map_;
    // False once the binding is gone (an activation may end its owner).
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::vector<std::unique_ptr<Bound>> bound_;
};

}  // namespace larkspin
