// The theme table. Rows follow ThemeID's order; within a row the groups follow
// Theme's fields. Every value is the exact colour text handed to the page.

#include "Appearance/Generated/ThemeTable.hpp"

namespace larkspin::generated {

constexpr std::array<ThemeRow, 6> themeRows = {
    {// porcelain (瓷白)
     ThemeRow{
         .id = ThemeID::porcelain,
         .appearance = ThemeAppearance::light,
         .window = {"#FAFBFC", SidebarMaterial::sidebar, "#D9DEE6"},
         .web = {"#FAFBFC", "#FFFFFF", "#20242C", "#59616F", "#335CCC", "#335CCC2E", "#335CCC"},
         .content = {"#14181F", "#B9C4D6", "#4A5262", "#EEF1F5", "#2A2F3A", "#EEF1F5", "#FAFBFC",
                     "#D9DEE6", "#E8EEFA", "#FBE9EA", "#9B1C24"},
         .syntax = {"#7A2E9E", "#1F6E3A", "#5F6873", "#A64A12", "#2C55B6", "#0B7285", "#4B5563"},
         .diagram = {"#E8EEFA", "#335CCC", "#59616F", "#20242C", "#F2F5FA", "#B42318"},
         .gradient = {{{"#FFFFFF", 0}, {"#FAFBFC", 50}, {"#FFFFFF", 100}}},
         .gradientStops = 3,
         .solid = "#FAFBFC",
     },
     // linen (亚麻)
     ThemeRow{
         .id = ThemeID::linen,
         .appearance = ThemeAppearance::light,
         .window = {"#F7F3EB", SidebarMaterial::sidebar, "#E0D5C3"},
         .web = {"#F7F3EB", "#FFFCF5", "#322B25", "#6C6053", "#855B2D", "#D9A84E3D", "#855B2D"},
         .content = {"#2A221C", "#D6C2A4", "#5A4C3F", "#F0E8DC", "#3B3129", "#EFE6D8", "#F9F5EE",
                     "#E0D5C3", "#F3E9D6", "#F9E5DF", "#96301E"},
         .syntax = {"#8B3A62", "#4E6B2A", "#6B6053", "#A3480F", "#2F5C8F", "#6C4F1D", "#5C5147"},
         .diagram = {"#F3E9D6", "#855B2D", "#6C6053", "#322B25", "#F7F0E3", "#A63A24"},
         .gradient = {{{"#FFFBF3", 0}, {"#F7F3EB", 50}, {"#FFFBF3", 100}}},
         .gradientStops = 3,
         .solid = "#F7F3EB",
     },
     // mist (雾青)
     ThemeRow{
         .id = ThemeID::mist,
         .appearance = ThemeAppearance::light,
         .window = {"#EFF5F3", SidebarMaterial::sidebar, "#CBDCD4"},
         .web = {"#EFF5F3", "#F9FCFB", "#233932", "#526A62", "#246C57", "#3FA58538", "#246C57"},
         .content = {"#1B2E28", "#A9C9BC", "#3E5A50", "#E6EFEB", "#24403A", "#E3EDE8", "#F2F7F5",
                     "#CBDCD4", "#DDEDE6", "#F6E3E1", "#963126"},
         .syntax = {"#1F5E8A", "#7A3E8C", "#566D66", "#A24C2A", "#1F6B62", "#6B5A1E", "#4A5E57"},
         .diagram = {"#DDEDE6", "#246C57", "#526A62", "#233932", "#EEF5F2", "#A53A2E"},
         .gradient = {{{"#F6FAF8", 0}, {"#EFF5F3", 50}, {"#F6FAF8", 100}}},
         .gradientStops = 3,
         .solid = "#EFF5F3",
     },
     // graphite (石墨)
     ThemeRow{
         .id = ThemeID::graphite,
         .appearance = ThemeAppearance::dark,
         .window = {"#191B20", SidebarMaterial::underWindowBackground, "#383D47"},
         .web = {"#191B20", "#22252C", "#E5E8EF", "#ADB4C1", "#9AB4FF", "#9AB4FF40", "#9AB4FF"},
         .content = {"#F3F5F9", "#4A5160", "#C3C9D4", "#17191E", "#DEE2EA", "#2A2E36", "#1E2126",
                     "#383D47", "#262C3B", "#3A2226", "#FFB4B4"},
         .syntax = {"#C7A4FF", "#A8D8A0", "#8B93A3", "#F0B47A", "#8CC4FF", "#7ED8D0", "#B6BCC8"},
         .diagram = {"#2A2E36", "#9AB4FF", "#ADB4C1", "#E5E8EF", "#1E2126", "#FF8A8A"},
         .gradient = {},
         .gradientStops = 0,
         .solid = "#191B20",
     },
     // midnight (午夜)
     ThemeRow{
         .id = ThemeID::midnight,
         .appearance = ThemeAppearance::dark,
         .window = {"#141B2B", SidebarMaterial::sidebar, "#30405C"},
         .web = {"#141B2B", "#1C2639", "#E6EDF7", "#AABAD0", "#8FBDF5", "#8FBDF545", "#8FBDF5"},
         .content = {"#F4F8FE", "#3B5078", "#C5D3E6", "#111927", "#DCE6F4", "#243149", "#182234",
                     "#30405C", "#1F3048", "#3C2230", "#FFAB9C"},
         .syntax = {"#F2A0C7", "#A8DDA8", "#8A9BB5", "#FFC66D", "#7FD1E6", "#C6B4FF", "#B7C4D8"},
         .diagram = {"#243149", "#8FBDF5", "#AABAD0", "#E6EDF7", "#182234", "#FF8FA3"},
         .gradient = {{{"#1A2540", 0}, {"#141B2B", 45}, {"#0F1522", 100}}},
         .gradientStops = 3,
         .solid = "#141B2B",
     },
     // forest (松墨)
     ThemeRow{
         .id = ThemeID::forest,
         .appearance = ThemeAppearance::dark,
         .window = {"#15231F", SidebarMaterial::underWindowBackground, "#30463C"},
         .web = {"#15231F", "#1C2D27", "#E5F0E8", "#A9C0B2", "#8CCDA8", "#8CCDA840", "#8CCDA8"},
         .content = {"#F1F8F3", "#3E5D51", "#C6D9CD", "#111E19", "#DCEBE1", "#24382F", "#182A24",
                     "#30463C", "#203A2F", "#3A2324", "#FFB8B0"},
         .syntax = {"#F0B27A", "#A6D8B6", "#86A08F", "#F5D08A", "#8FC9E8", "#D8B8F0", "#B4C7BB"},
         .diagram = {"#24382F", "#8CCDA8", "#A9C0B2", "#E5F0E8", "#182A24", "#FF9A8F"},
         .gradient = {{{"#1B2C26", 0}, {"#15231F", 50}, {"#101B17", 100}}},
         .gradientStops = 3,
         .solid = "#15231F",
     }}};

constexpr bool rowsFollowThemeOrder() {
    for (std::size_t i = 0; i < themeRows.size(); ++i) {
        if (themeRows[i].id != allThemeIDs[i]) return false;
    }
    return true;
}
static_assert(rowsFollowThemeOrder(), "theme rows must follow ThemeID's order");

}  // namespace larkspin::generated
