#include "Protocol/Payloads/TypographyRawValues.hpp"

namespace larkspin {

namespace {
template <typename E, std::size_t N>
std::array<std::pair<E, std::string_view>, N> tableOf(const std::array<E, N>& cases) {
    std::array<std::pair<E, std::string_view>, N> table{};
    for (std::size_t i = 0; i < N; ++i) table[i] = {cases[i], rawValue(cases[i])};
    return table;
}
}  // namespace

const std::array<std::pair<TypographyWidthPreset, std::string_view>, 3>
    RawValueTable<TypographyWidthPreset>::entries = tableOf(allWidthPresets);
const std::array<std::pair<TypographyLineHeightPreset, std::string_view>, 3>
    RawValueTable<TypographyLineHeightPreset>::entries = tableOf(allLineHeightPresets);
const std::array<std::pair<WideBlockMode, std::string_view>, 2>
    RawValueTable<WideBlockMode>::entries = tableOf(allWideBlockModes);

}  // namespace larkspin
