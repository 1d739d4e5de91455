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
using Weights = std::vector<int>;

Weights weightsOf(const ResolvedFont& font) {
    Weights out;
    for (const auto& face : font.faces) out.push_back(face.cssWeight);
    return out;
}

ResolvedFont fontWithWeights(Weights weights, std::optional<WeightRange> range = {}) {
    ResolvedFont font{.variableWeightRange = range};
    for (int w : weights) font.faces.push_back(Face{.cssWeight = w});
    return font;
}

TEST(FontResolverWeights, TraitsAndOpenTypeWeightsMapToCSSHundreds) {
    // Ties go to 400, where the search starts, else to the lighter weight.
    EXPECT_EQ(FontResolver::cssWeight(-0.2), 400);  // halfway between 300 and 400
    EXPECT_EQ(FontResolver::cssWeight(-0.5), 200);  // halfway between 200 and 300
    EXPECT_EQ(FontResolver::cssWeight(-1.0), 100);
    EXPECT_EQ(FontResolver::cssWeight(1.0), 900);
    int last = 100;  // and never lighter for a bolder trait
    for (double trait = -1.0; trait <= 1.0; trait += 0.01) {
        EXPECT_GE(FontResolver::cssWeight(trait), last) << trait;
        last = FontResolver::cssWeight(trait);
    }
    // OpenType hundreds map to themselves, in-betweens by the trait scale.
    for (int w = 100; w <= 900; w += 100) EXPECT_EQ(FontResolver::cssWeightFromOpenType(w), w);
    const std::pair<double, int> openType[] = {
        {380, 400}, {350, 400}, {1000, 900}, {1, 100}, {std::nan(""), 400}};  // 380: Pango's "book"
    for (auto [weight, css] : openType) {
        EXPECT_EQ(FontResolver::cssWeightFromOpenType(weight), css) << weight;
    }
}

TEST(FontResolverWeights, SupportedAndNearestWeights) {
    EXPECT_EQ(fontWithWeights({300, 700}).nearestSupportedWeight(500), 300);  // tie: lower
    EXPECT_EQ(fontWithWeights({400, 500}).nearestSupportedWeight(450), 400);
    EXPECT_EQ(fontWithWeights({400, 700}).nearestSupportedWeight(600), 700);
    EXPECT_EQ(fontWithWeights({700}).nearestSupportedWeight(100), 700);
    EXPECT_EQ(fontWithWeights({}).nearestSupportedWeight(700), 400);
    // Duplicate face weights count once; a variable axis adds its hundreds.
    EXPECT_EQ(fontWithWeights({400, 400, 700}).supportedWeights(), (Weights{400, 700}));
    EXPECT_EQ(fontWithWeights({400}, WeightRange{1, 1000}).supportedWeights(),
              (Weights{100, 200, 300, 400, 500, 600, 700, 800, 900}));
    EXPECT_EQ(fontWithWeights({}, WeightRange{250, 600}).supportedWeights(),
              (Weights{300, 400, 500, 600}));
    // Axis ranges are bounded to 1…1000 and must be ordered and finite.
    using FontResolver::weightRangeFromAxis;
    EXPECT_EQ(weightRangeFromAxis(1, 1000), (WeightRange{1, 1000}));
    EXPECT_EQ(weightRangeFromAxis(0.4, 1200), (WeightRange{1, 1000}));
    EXPECT_EQ(weightRangeFromAxis(99.5, 899.5), (WeightRange{100, 900}));
    EXPECT_EQ(weightRangeFromAxis(1100, 1200), (WeightRange{1100, 1100}));
    EXPECT_EQ(weightRangeFromAxis(500, 400), std::nullopt);
    EXPECT_EQ(weightRangeFromAxis(std::nan(""), 400), std::nullopt);
    EXPECT_EQ(weightRangeFromAxis(100, std::numeric_limits<double>::infinity()), std::nullopt);
}

TEST(FontResolverClassification, SerifNamesAndClasses) {
    for (const char* serif : {"EB Garamond", "Songti SC", "思源宋体", "DejaVu Serif"}) {
        EXPECT_TRUE(FontResolver::nameLooksSerif(serif)) << serif;
    }
    // "sans" wins.
    for (const char* sans : {"Times Sans Serif", "DejaVu SANS", "Cantarell"}) {
        EXPECT_FALSE(FontResolver::nameLooksSerif(sans)) << sans;
    }
    for (std::uint32_t cls = 0; cls < 16; ++cls) {
        EXPECT_EQ(FontResolver::isSerifClass(cls << 28), (cls >= 1 && cls <= 5) || cls == 7) << cls;
    }
}

TEST(FontResolverLocation, FoldersDecideWithLinksResolved) {
    test::TempDir dir;
    const auto library = dir.write("usr/local/share/fonts/Lib.ttf", "x");
    const auto bundled = dir.write("app/Bundled.ttf", "x");
    std::filesystem::create_symlink(library, dir / "app/LinkToLibrary.ttf");
    const std::string base = std::filesystem::canonical(dir.path()).string();
    FontResolver::LocationRoots roots{.system = {base + "/usr/"},
                                      .systemExcluded = {base + "/usr/local/"},
                                      .library = {base + "/usr/local/share/fonts/"},
                                      .user = {base + "/home/fonts/"}};
    const std::pair<std::optional<std::filesystem::path>, Location> cases[] = {
        {dir.write("usr/share/fonts/Sys.ttf", "x"), Location::system},
        {library, Location::library},
        {dir / "app/LinkToLibrary.ttf", Location::library},
        {dir.write("home/fonts/Mine.ttf", "x"), Location::user},
        {bundled, Location::other},
        {dir.write("usr/local/Stray.ttf", "x"), Location::other},  // /usr/local is not system
        {std::nullopt, Location::unknown}};
    for (const auto& [file, where] : cases) {
        EXPECT_EQ(FontResolver::location(file, roots), where) << file.value_or("");
    }

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

TEST_F(FontResolverInstalled, ResolvesFamiliesAndPostScriptNamesWithFacesInWeightOrder) {
    // Letter case and blanks do not count; the installed spelling is reported, and the 400
    // face represents the family.
    const std::tuple<const char*, const char*, const char*, Weights> fonts[] = {
        {"  Cantarell\n", "Cantarell", "Cantarell-Regular", {100, 300, 400, 700, 800}},
        {"cantarell-BOLD", "Cantarell", "Cantarell-Regular", {100, 300, 400, 700, 800}},
        {"dejavu sansmono", "DejaVu Sans Mono", "DejaVuSansMono", {400, 700}}};
    for (const auto& [request, family, postScriptName, weights] : fonts) {
        const auto font = FontResolver::resolve(request);
        ASSERT_TRUE(font) << request;
        EXPECT_EQ(font->familyName, family);
        EXPECT_EQ(font->postScriptName, postScriptName);
        EXPECT_EQ(weightsOf(*font), weights);
    }
    const auto cantarell = FontResolver::resolve("  Cantarell\n");
    EXPECT_EQ(cantarell->requestedName, "Cantarell");
    EXPECT_EQ(cantarell->displayName, "Cantarell Regular");
    EXPECT_EQ(cantarell->location, Location::system);  // linked from /usr/share/fonts
    EXPECT_FALSE(cantarell->variableWeightRange);
    // A full name is neither a family nor a PostScript name.
    for (const char* nothing : {"Cantarell Regular", "No Such Family", " \t "}) {
        EXPECT_FALSE(FontResolver::resolve(nothing)) << nothing;
    }
    // A variable font supports every weight of its axis.
    const auto inter = FontResolver::resolve("Inter");
    ASSERT_TRUE(inter && inter->file);
    EXPECT_EQ(inter->variableWeightRange, (WeightRange{100, 900}));
    EXPECT_EQ(inter->supportedWeights().size(), 9u);
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

    const std::vector<std::string> sans{"Cantarell", "DejaVu Sans", "DejaVu Sans Mono", "Inter"};
    EXPECT_EQ(FontResolver::families(Location::system, true), sans);
    auto all = sans;
    all.insert(all.end() - 1, "DejaVu Serif");
    EXPECT_EQ(FontResolver::families(Location::system, false), all);
    // The slab copy lives in the test folder, not in a system one.
    EXPECT_EQ(FontResolver::families(Location::other, false),
              (std::vector<std::string>{"DejaVu Slab"}));
    EXPECT_TRUE(FontResolver::families(Location::other, true).empty());
    EXPECT_TRUE(FontResolver::families(Location::user, false).empty());
    EXPECT_EQ(FontResolver::fixedPitchFamilies(), (std::vector<std::string>{"DejaVu Sans Mono"}));
}

}  // namespace
}  // namespace larkspin
