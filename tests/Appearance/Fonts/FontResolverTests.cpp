#include <glib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "Appearance/Fonts/FontResolver.hpp"
#include "Appearance/Fonts/FontResolverTestFonts.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using FontResolver::Face;
using FontResolver::Location;
using FontResolver::ResolvedFont;
using FontResolver::WeightRange;

std::vector<int> weightsOf(const ResolvedFont& font) {
    std::vector<int> out;
    for (const auto& face : font.faces) out.push_back(face.cssWeight);
    return out;
}

ResolvedFont fontWithWeights(std::vector<int> weights, std::optional<WeightRange> range = {}) {
    ResolvedFont font;
    for (int w : weights)
        font.faces.push_back(Face{.postScriptName = "F-" + std::to_string(w), .cssWeight = w});
    font.variableWeightRange = range;
    return font;
}

TEST(FontResolverWeights, TraitAnchorsAndTies) {
    // Exact anchors.
    const std::pair<double, int> anchors[] = {{-0.8, 100}, {-0.6, 200}, {-0.4, 300},
                                              {0.0, 400},  {0.23, 500}, {0.3, 600},
                                              {0.4, 700},  {0.56, 800}, {0.62, 900}};
    for (auto [trait, weight] : anchors) EXPECT_EQ(FontResolver::cssWeight(trait), weight) << trait;
    // Halfway between 300 and 400 stays at 400, where the search starts.
    EXPECT_EQ(FontResolver::cssWeight(-0.2), 400);
    // Halfway between 200 and 300: the one tried first.
    EXPECT_EQ(FontResolver::cssWeight(-0.5), 200);
    EXPECT_EQ(FontResolver::cssWeight(0.7), 900);
    EXPECT_EQ(FontResolver::cssWeight(-1.0), 100);
    // OpenType weights: hundreds map to themselves, in-betweens by the trait scale.
    for (int w = 100; w <= 900; w += 100) EXPECT_EQ(FontResolver::cssWeightFromOpenType(w), w);
    EXPECT_EQ(FontResolver::cssWeightFromOpenType(380), 400);  // Pango's "book"
    EXPECT_EQ(FontResolver::cssWeightFromOpenType(350), 400);
    EXPECT_EQ(FontResolver::cssWeightFromOpenType(1000), 900);
    EXPECT_EQ(FontResolver::cssWeightFromOpenType(1), 100);
    EXPECT_EQ(FontResolver::cssWeightFromOpenType(std::nan("")), 400);
}

TEST(FontResolverWeights, SupportedAndNearestWeights) {
    EXPECT_EQ(fontWithWeights({300, 700}).nearestSupportedWeight(500), 300);  // tie: lower
    EXPECT_EQ(fontWithWeights({400, 500}).nearestSupportedWeight(450), 400);
    EXPECT_EQ(fontWithWeights({400, 700}).nearestSupportedWeight(600), 700);
    EXPECT_EQ(fontWithWeights({700}).nearestSupportedWeight(100), 700);
    EXPECT_EQ(fontWithWeights({}).nearestSupportedWeight(700), 400);
    // Duplicate face weights count once; a variable axis adds its hundreds.
    EXPECT_EQ(fontWithWeights({400, 400, 700}).supportedWeights(), (std::vector<int>{400, 700}));
    EXPECT_EQ(fontWithWeights({400}, WeightRange{1, 1000}).supportedWeights(),
              (std::vector<int>{100, 200, 300, 400, 500, 600, 700, 800, 900}));
    EXPECT_EQ(fontWithWeights({}, WeightRange{250, 600}).supportedWeights(),
              (std::vector<int>{300, 400, 500, 600}));
}

TEST(FontResolverWeights, AxisRangeIsBounded) {
    EXPECT_EQ(FontResolver::weightRangeFromAxis(1, 1000), (WeightRange{1, 1000}));
    EXPECT_EQ(FontResolver::weightRangeFromAxis(0.4, 1200), (WeightRange{1, 1000}));
    EXPECT_EQ(FontResolver::weightRangeFromAxis(99.5, 899.5), (WeightRange{100, 900}));
    EXPECT_EQ(FontResolver::weightRangeFromAxis(1100, 1200), (WeightRange{1100, 1100}));
    EXPECT_EQ(FontResolver::weightRangeFromAxis(500, 400), std::nullopt);
    EXPECT_EQ(FontResolver::weightRangeFromAxis(std::nan(""), 400), std::nullopt);
    EXPECT_EQ(FontResolver::weightRangeFromAxis(100, std::numeric_limits<double>::infinity()),
              std::nullopt);
}

TEST(FontResolverClassification, SerifNamesAndClasses) {
    EXPECT_TRUE(FontResolver::nameLooksSerif("EB Garamond"));
    EXPECT_TRUE(FontResolver::nameLooksSerif("Songti SC"));
    EXPECT_TRUE(FontResolver::nameLooksSerif("思源宋体"));
    EXPECT_TRUE(FontResolver::nameLooksSerif("DejaVu Serif"));
    EXPECT_FALSE(FontResolver::nameLooksSerif("Times Sans Serif"));  // "sans" wins
    EXPECT_FALSE(FontResolver::nameLooksSerif("DejaVu SANS"));
    EXPECT_FALSE(FontResolver::nameLooksSerif("Cantarell"));
    for (std::uint32_t cls : {1u, 2u, 3u, 4u, 5u, 7u})
        EXPECT_TRUE(FontResolver::isSerifClass(cls << 28));
    for (std::uint32_t cls : {0u, 6u, 8u, 10u, 12u})
        EXPECT_FALSE(FontResolver::isSerifClass(cls << 28));
}

TEST(FontResolverLocation, FoldersDecideWithLinksResolved) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "usr/share/fonts");
    std::filesystem::create_directories(dir / "usr/local/share/fonts");
    std::filesystem::create_directories(dir / "home/.local/share/fonts");
    std::filesystem::create_directories(dir / "app/fonts");
    const auto library = dir.write("usr/local/share/fonts/Lib.ttf", "x");
    const auto user = dir.write("home/.local/share/fonts/Mine.ttf", "x");
    const auto bundled = dir.write("app/fonts/Bundled.ttf", "x");
    const auto strayLocal = dir.write("usr/local/Stray.ttf", "x");
    std::filesystem::create_symlink(library, dir / "app/fonts/LinkToLibrary.ttf");

    FontResolver::LocationRoots roots;
    const std::string base = std::filesystem::canonical(dir.path()).string();
    roots.system = {base + "/usr/"};
    roots.systemExcluded = {base + "/usr/local/"};
    roots.library = {base + "/usr/local/share/fonts/"};
    roots.user = {base + "/home/.local/share/fonts/"};

    EXPECT_EQ(FontResolver::location(dir.write("usr/share/fonts/Sys.ttf", "x"), roots),
              Location::system);
    EXPECT_EQ(FontResolver::location(library, roots), Location::library);
    EXPECT_EQ(FontResolver::location(dir / "app/fonts/LinkToLibrary.ttf", roots),
              Location::library);
    EXPECT_EQ(FontResolver::location(user, roots), Location::user);
    EXPECT_EQ(FontResolver::location(bundled, roots), Location::other);
    EXPECT_EQ(FontResolver::location(strayLocal, roots),
              Location::other);  // /usr/local is not system
    EXPECT_EQ(FontResolver::location(std::nullopt, roots), Location::unknown);

    // This machine's roots: the user's data folder (set by the test main) and /usr.
    const auto mine = std::filesystem::path(g_get_user_data_dir()) / "fonts" / "Mine.ttf";
    std::filesystem::create_directories(mine.parent_path());
    std::ofstream(mine) << "x";
    EXPECT_EQ(FontResolver::location(mine), Location::user);
    EXPECT_EQ(FontResolver::location(std::filesystem::path("/usr/share/fonts/x.ttf")),
              Location::system);
    EXPECT_EQ(FontResolver::location(std::filesystem::path("/usr/local/share/fonts/x.ttf")),
              Location::library);
}

class FontResolverInstalled : public ::testing::Test {
protected:
    void SetUp() override { test::PinnedFonts::install(); }
};

TEST_F(FontResolverInstalled, ResolvesFamiliesWithFacesInWeightOrder) {
    const auto cantarell = FontResolver::resolve("  Cantarell\n");
    ASSERT_TRUE(cantarell);
    EXPECT_EQ(cantarell->requestedName, "Cantarell");
    EXPECT_EQ(cantarell->familyName, "Cantarell");
    EXPECT_EQ(weightsOf(*cantarell), (std::vector<int>{100, 300, 400, 700, 800}));
    EXPECT_EQ(cantarell->postScriptName, "Cantarell-Regular");  // the 400 face represents
    EXPECT_EQ(cantarell->displayName, "Cantarell Regular");
    EXPECT_EQ(cantarell->location, Location::system);  // linked from /usr/share/fonts
    EXPECT_FALSE(cantarell->variableWeightRange);
    EXPECT_EQ(cantarell->nearestSupportedWeight(500), 400);
    EXPECT_EQ(cantarell->nearestSupportedWeight(600), 700);

    // Letter case and blanks do not count; the installed spelling is reported.
    const auto mono = FontResolver::resolve("dejavu sansmono");
    ASSERT_TRUE(mono);
    EXPECT_EQ(mono->familyName, "DejaVu Sans Mono");
    EXPECT_EQ(weightsOf(*mono), (std::vector<int>{400, 700}));
    EXPECT_EQ(mono->faces.front().postScriptName, "DejaVuSansMono");
    EXPECT_FALSE(mono->faces.front().isSerif);
}

TEST_F(FontResolverInstalled, PostScriptNamesLeadToTheirFamily) {
    const auto bold = FontResolver::resolve("cantarell-BOLD");
    ASSERT_TRUE(bold);
    EXPECT_EQ(bold->familyName, "Cantarell");
    EXPECT_EQ(bold->faces.size(), 5u);
    // A full name is neither a family nor a PostScript name.
    EXPECT_FALSE(FontResolver::resolve("Cantarell Regular"));
    EXPECT_FALSE(FontResolver::resolve("No Such Family"));
    EXPECT_FALSE(FontResolver::resolve(" \t "));
}

TEST_F(FontResolverInstalled, VariableFontSupportsEveryWeightOfItsAxis) {
    const auto inter = FontResolver::resolve("Inter");
    ASSERT_TRUE(inter);
    ASSERT_TRUE(inter->variableWeightRange);
    EXPECT_EQ(*inter->variableWeightRange, (WeightRange{100, 900}));
    EXPECT_EQ(inter->supportedWeights(),
              (std::vector<int>{100, 200, 300, 400, 500, 600, 700, 800, 900}));
    EXPECT_EQ(inter->faces.front().cssWeight, 100);
    ASSERT_TRUE(inter->file);
    EXPECT_EQ(inter->file->filename(), "Inter-roman.var.ttf");
}

TEST_F(FontResolverInstalled, SerifByNameOrByFamilyClass) {
    const auto serif = FontResolver::resolve("DejaVu Serif");
    ASSERT_TRUE(serif);
    EXPECT_TRUE(serif->faces.front().isSerif);  // by name; its OS/2 class is unset
    EXPECT_EQ(serif->faces.front().stylisticClass, 0u);

    const auto slab = FontResolver::resolve("DejaVu Slab");
    ASSERT_TRUE(slab);
    EXPECT_FALSE(FontResolver::nameLooksSerif(slab->postScriptName));
    EXPECT_EQ(slab->faces.front().stylisticClass, 0x50000000u);
    EXPECT_TRUE(slab->faces.front().isSerif);

    const auto sansOnly = FontResolver::families(Location::system, true);
    const auto all = FontResolver::families(Location::system, false);
    EXPECT_EQ(sansOnly,
              (std::vector<std::string>{"Cantarell", "DejaVu Sans", "DejaVu Sans Mono", "Inter"}));
    EXPECT_EQ(all, (std::vector<std::string>{"Cantarell", "DejaVu Sans", "DejaVu Sans Mono",
                                             "DejaVu Serif", "Inter"}));
    // The slab copy lives in the test folder, not in a system one.
    EXPECT_EQ(FontResolver::families(Location::other, false),
              (std::vector<std::string>{"DejaVu Slab"}));
    EXPECT_TRUE(FontResolver::families(Location::other, true).empty());
    EXPECT_TRUE(FontResolver::families(Location::user, false).empty());
    EXPECT_EQ(FontResolver::fixedPitchFamilies(), (std::vector<std::string>{"DejaVu Sans Mono"}));
}

}  // namespace
}  // namespace larkspin
