#include "Window/TOCTree.hpp"

#include "Platform/Localization.hpp"
#include "Platform/Text/TextTrimming.hpp"

namespace larkspin {

TOCTree TOCTree::build(const std::vector<BridgeHeading>& headings) {
    TOCTree tree;
    tree.nodes.reserve(headings.size());
    std::vector<std::size_t> stack;
    for (std::size_t i = 0; i < headings.size(); ++i) {
        TOCNode node;
        node.heading = headings[i];
        node.index = i;
        while (!stack.empty() && tree.nodes[stack.back()].heading.level >= headings[i].level) {
            stack.pop_back();
        }
        if (stack.empty()) {
            node.siblingIndex = tree.roots.size();
            tree.roots.push_back(i);
        } else {
            node.parent = stack.back();
            node.depth = tree.nodes[stack.back()].depth + 1;
            node.siblingIndex = tree.nodes[stack.back()].children.size();
            tree.nodes[stack.back()].children.push_back(i);
        }
        tree.nodes.push_back(std::move(node));
        tree.byID_.try_emplace(headings[i].id, i);  // the first one wins
        stack.push_back(i);
    }
    return tree;
}

std::optional<std::size_t> TOCTree::node(std::string_view id) const {
    const auto found = byID_.find(std::string(id));
    if (found == byID_.end()) return std::nullopt;
    return found->second;
}

namespace TOCRow {

std::string tooltip(const BridgeHeading& heading) { return trimmedWhitespace(heading.text); }

std::string displayText(const BridgeHeading& heading) {
    auto text = tooltip(heading);
    return text.empty() ? L10n::text("toc.untitled_heading") : text;
}

bool isEmphasized(const BridgeHeading& heading) { return heading.level <= 1; }

bool isSecondary(const BridgeHeading& heading) { return heading.level > 3; }

std::string accessibilityLabel(const BridgeHeading& heading) {
    const auto level = std::to_string(heading.level);
    const auto text = displayText(heading);
    return L10n::format("a11y.toc.row", {text, level});
}

}  // namespace TOCRow

bool TOCOutline::update(const std::vector<BridgeHeading>& headings) {
    if (received_ && headings == headings_) return false;
    received_ = true;
    headings_ = headings;
    tree_ = TOCTree::build(headings_);
    return true;
}

std::optional<std::size_t> TOCOutline::highlight(std::string identifier) {
    currentHeadingID_ = std::move(identifier);
    return selectedNode();
}

std::optional<std::size_t> TOCOutline::selectedNode() const {
    if (!currentHeadingID_) return std::nullopt;
    return tree_.node(*currentHeadingID_);
}

std::optional<BridgeHeading> TOCOutline::userPicked(std::size_t node) const {
    if (node >= tree_.nodes.size()) return std::nullopt;
    return tree_.nodes[node].heading;
}

}  // namespace larkspin
