#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Protocol/Payloads/BridgeHeading.hpp"

namespace larkspin {

// One row of the heading outline. Nodes live in one list in document order
// (which is also the outline's pre-order), and refer to each other by
// position in it, so a list model can hand out rows by number.
struct TOCNode {
    BridgeHeading heading;
    std::size_t index = 0;                // position in the heading list
    std::optional<std::size_t> parent;    // none for a root
    std::vector<std::size_t> children;    // in document order
    std::size_t depth = 0;                // 0 for a root
    std::size_t siblingIndex = 0;         // position among its parent's children, or the roots

    bool operator==(const TOCNode&) const = default;
};

// The heading outline built from the page's heading list: a tree by level.
// Levels need not be contiguous: a heading nests under the nearest earlier
// heading of a lower level, and becomes a root when there is none.
struct TOCTree {
    std::vector<TOCNode> nodes;          // every heading, in document order
    std::vector<std::size_t> roots;      // top level, in document order

    static TOCTree build(const std::vector<BridgeHeading>& headings);

    bool empty() const { return nodes.empty(); }
    // The node of a heading identifier; with two headings of one identifier,
    // the first in document order.
    std::optional<std::size_t> node(std::string_view id) const;

private:
    std::unordered_map<std::string, std::size_t> byID_;
};

// How a row shows its heading.
namespace TOCRow {
// The heading's text without surrounding white space, or the placeholder for
// a heading without text.
std::string displayText(const BridgeHeading& heading);
// The tooltip: the trimmed text, empty for a heading without text.
std::string tooltip(const BridgeHeading& heading);
// Level 1 (and anything below) is emphasised; deeper than 3 is secondary.
bool isEmphasized(const BridgeHeading& heading);
bool isSecondary(const BridgeHeading& heading);
// The spoken label: the displayed text and the level.
std::string accessibilityLabel(const BridgeHeading& heading);
}  // namespace TOCRow

// The sidebar's state over its tree: rebuilt only when the page reports a
// different heading list, and the row that follows the reading position.
// The list widget shows `tree()`, selects `selectedNode()` and reports the
// user's picks through `userPicked`. Main thread.
class TOCOutline {
public:
    // The page's new heading list. Returns whether the tree changed (the list
    // widget reloads only then); an equal list keeps the tree as it is.
    bool update(const std::vector<BridgeHeading>& headings);
    // The reader's active heading. The identifier is remembered even when no
    // row has it, so a later list that holds it selects it. Returns the node
    // to select, or nothing to leave the selection as it is.
    std::optional<std::size_t> highlight(std::string identifier);

    const TOCTree& tree() const { return tree_; }
    const std::vector<BridgeHeading>& headings() const { return headings_; }
    const std::optional<std::string>& currentHeadingID() const { return currentHeadingID_; }
    // The node of the remembered active heading, when the tree has it.
    std::optional<std::size_t> selectedNode() const;
    // True when the outline shows its empty-state text instead of rows.
    // Before the first list the sidebar shows neither.
    bool showsEmptyState() const { return received_ && tree_.empty(); }
    bool hasHeadingList() const { return received_; }

    // The heading of the node the user clicked or moved to with the keys;
    // nothing for a node that does not exist.
    std::optional<BridgeHeading> userPicked(std::size_t node) const;

private:
    std::vector<BridgeHeading> headings_;
    TOCTree tree_;
    std::optional<std::string> currentHeadingID_;
    bool received_ = false;
};

}  // namespace larkspin
