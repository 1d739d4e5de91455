#include "Appearance/Theme.hpp"

namespace larkspin {

std::string_view rawValue(SidebarMaterial material) {
    switch (material) {
        case SidebarMaterial::sidebar:
            return "sidebar";
        case SidebarMaterial::underWindowBackground:
            return "underWindowBackground";
        case SidebarMaterial::none:
            return "none";
    }
    return "none";
}

std::optional<SidebarMaterial> sidebarMaterialFromRaw(std::string_view raw) {
    for (auto m : {SidebarMaterial::sidebar, SidebarMaterial::underWindowBackground,
                   SidebarMaterial::none}) {
        if (rawValue(m) == raw) return m;
    }
    return std::nullopt;
}

CSSVariables Theme::cssVariables() const {
    CSSVariables out;
    auto put = [&out](std::string_view suffix, const HexColor& color) {
        out.emplace(std::string("--md-").append(suffix), color.hex);
    };
    put("canvas", web.canvas);
    put("surface", web.surface);
    put("text", web.text);
    put("text-secondary", web.textSecondary);
    put("link", web.link);
    put("selection", web.selection);
    put("focus", web.focus);
    put("heading", content.headingColor);
    put("quote-border", content.quoteBorder);
    put("quote-text", content.quoteText);
    put("code-bg", content.codeBackground);
    put("code-text", content.codeText);
    put("table-head-bg", content.tableHeaderBackground);
    put("table-row-alt", content.tableRowAlt);
    put("table-border", content.tableBorder);
    put("callout-bg", content.calloutBackground);
    put("error-bg", content.errorBackground);
    put("error-text", content.errorText);
    put("syntax-keyword", syntax.keyword);
    put("syntax-string", syntax.string);
    put("syntax-comment", syntax.comment);
    put("syntax-number", syntax.number);
    put("syntax-function", syntax.function);
    put("syntax-type", syntax.type);
    put("syntax-punctuation", syntax.punctuation);
    put("diagram-node", diagram.node);
    put("diagram-node-border", diagram.nodeBorder);
    put("diagram-edge", diagram.edge);
    put("diagram-label", diagram.label);
    put("diagram-cluster", diagram.cluster);
    put("diagram-error", diagram.error);
    return out;
}

}  // namespace larkspin
