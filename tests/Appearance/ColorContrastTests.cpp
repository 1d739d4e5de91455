#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "Appearance/ColorContrast.hpp"

namespace larkspin {
namespace {

ColorComponents grey(double level, double alpha = 1) { return {level, level, level, alpha}; }

TEST(ColorContrast, RatiosAndPaintingOver) {
    const std::vector<std::tuple<ColorComponents, ColorComponents, double>> cases{
        {grey(0), grey(1), 21.0},
        {grey(1), grey(0), 21.0},  // either order
        {grey(0.5), grey(0.5), 1.0},
        {{0.4627, 0.4627, 0.4627, 1}, grey(1), 4.54},  // #767676 on white, the usual 4.5:1 grey
        {grey(2), grey(-1), 21.0},                     // out-of-range channels are clamped
    };
    for (const auto& [a, b, expected] : cases) EXPECT_NEAR(ColorContrast::ratio(a, b), expected, 0.01);
    const ColorComponents half = ColorContrast::over(grey(0, 0.5), grey(1));
    EXPECT_NEAR(half.red, 0.5, 1e-9);
    EXPECT_EQ(half.alpha, 1);
    EXPECT_EQ(ColorContrast::over(grey(0.2), grey(0.9)), grey(0.2));
}

}  // namespace
}  // namespace larkspin
