#include "Appearance/ThemeCatalog.hpp"

#include <array>
#include <mutex>
#include <optional>

#include "Appearance/Generated/ThemeTable.hpp"
#include "Platform/Localization.hpp"

namespace larkspin::ThemeCatalog {

namespace {

HexColor color(std::string_view text) {
    return HexColor(std::string(text));
}

Theme build(const generated::ThemeRow& row) {
    Theme t;
    t.id = row.id;
    t.localizedName = L10n::text(localizedNameKey(row.id));
    t.appearance = row.appearance;
    t.window = {color(row.window.windowBackground), row.window.sidebarMaterial,
                color(row.window.separator)};
    const auto& w = row.web;
    t.web = {color(w.canvas), color(w.surface),   color(w.text), color(w.textSecondary),
             color(w.link),   color(w.selection), color(w.focus)};
    const auto& c = row.content;
    t.content = {color(c.headingColor),    color(c.quoteBorder), color(c.quoteText),
                 color(c.codeBackground),  color(c.codeText),    color(c.tableHeaderBackground),
                 color(c.tableRowAlt),     color(c.tableBorder), color(c.calloutBackground),
                 color(c.errorBackground), color(c.errorText)};
    const auto& s = row.syntax;
    t.syntax = {color(s.keyword),  color(s.string), color(s.comment),    color(s.number),
                color(s.function), color(s.type),   color(s.punctuation)};
    const auto& d = row.diagram;
    t.diagram = {color(d.node),  color(d.nodeBorder), color(d.edge),
                 color(d.label), color(d.cluster),    color(d.error)};
    if (row.gradientStops > 0) {
        std::vector<GradientStop> stops;
        for (std::size_t i = 0; i < row.gradientStops; ++i) {
            stops.push_back({color(row.gradient[i].color), row.gradient[i].position});
        }
        t.background.gradient = std::move(stops);
    }
    t.background.solid = color(row.solid);
    return t;
}

}  // namespace

Theme theme(ThemeID id) {
    static std::array<std::once_flag, allThemeIDs.size()> once;
    static std::array<std::optional<Theme>, allThemeIDs.size()> entries;
    const auto index = static_cast<std::size_t>(id);
    std::call_once(once[index], [index] { entries[index] = build(generated::themeRows[index]); });
    return *entries[index];
}

std::map<ThemeID, Theme> all() {
    std::map<ThemeID, Theme> out;
    for (auto id : allThemeIDs) out.emplace(id, theme(id));
    return out;
}

ThemeID defaultTheme(ThemeAppearance appearance) {
    return appearance == ThemeAppearance::dark ? ThemeID::graphite : ThemeID::porcelain;
}

}  // namespace larkspin::ThemeCatalog
