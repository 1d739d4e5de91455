#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspin {

// Which installed family a typed or chosen font name is, its faces and
// weights, where its files live and whether it is a serif design. Everything
// is read from fontconfig (families, faces, PostScript names, weights,
// spacing, files), FreeType (the OS/2 family class) and HarfBuzz (the weight
// axis of a variable font) at call time; nothing is kept, callers cache.
// Callable from any thread but the main one while its loop runs: `resolve`,
// `families` and `fixedPitchFamilies` read the disk and are checked as the
// file layer is (FileAccessCheck).
namespace FontResolver {

// Where a font file lives: system (/usr/, not /usr/local/), library
// (/usr/local/share/fonts), user ($XDG_DATA_HOME/fonts, ~/.local/share/fonts,
// ~/.fonts), elsewhere, or no file known.
enum class Location { system, library, user, other, unknown };

std::string_view rawValue(Location location);

// The searched order of locations for candidate lists.
inline constexpr Location candidateLocations[] = {Location::system, Location::library,
                                                  Location::user, Location::other};

// A closed range of weights, lower ≤ upper.
struct WeightRange {
    int lower = 0;
    int upper = 0;
    bool contains(int weight) const { return weight >= lower && weight <= upper; }
    bool operator==(const WeightRange&) const = default;
};

// One face of a family.
struct Face {
    std::string postScriptName;
    std::string styleName;
    int cssWeight = 400;  // 100…900
    std::optional<std::filesystem::path> file;
    Location location = Location::unknown;
    // The OS/2 family class (IBM class in the high byte of sFamilyClass),
    // shifted into the top four bits; 0 when the font has none.
    std::uint32_t stylisticClass = 0;
    bool isSerif = false;
    // Index of the face in its file (named instances in the upper 16 bits).
    unsigned faceIndex = 0;

    bool operator==(const Face&) const = default;
};

struct ResolvedFont {
    std::string requestedName;   // the request, trimmed
    std::string familyName;      // the installed family, as fontconfig spells it
    std::string displayName;     // the representative face's full name, else the family
    std::string postScriptName;  // of the representative face (weight 400, else the first)
    std::optional<std::filesystem::path> file;
    Location location = Location::unknown;
    std::vector<Face> faces;  // ascending CSS weight; equal weights keep their order
    std::optional<WeightRange> variableWeightRange;

    // The distinct weights the family can draw, ascending: its faces'
    // weights, and every hundred inside a variable weight axis.
    std::vector<int> supportedWeights() const;
    // The supported weight nearest to `target`, the lower one on a tie; 400
    // when the family supports none.
    int nearestSupportedWeight(int target) const;
};

// The family named `name` (any of a font's family names, ignoring letter
// case and blanks as fontconfig does), or else the family of the font whose
// PostScript name is `name` (ignoring letter case). Nothing for an empty
// name, an unknown one, or a family without faces.
std::optional<ResolvedFont> resolve(std::string_view name);

// Family names (the first family name of each font) whose first face lives
// in `location`, sorted by plain string order; optionally without serif
// families (by face or by name).
std::vector<std::string> families(Location location, bool excludingSerif);

// Family names of the fixed-pitch fonts (monospace, dual-width or
// character-cell), sorted.
std::vector<std::string> fixedPitchFamilies();

// True when the lower-cased name does not contain "sans" and contains one of
// the serif fragments ("songti", "song", "宋", "times", "georgia", "serif", …).
bool nameLooksSerif(std::string_view name);

// Whether an OS/2 family class (as in Face::stylisticClass) is a serif one:
// old-style, transitional, modern, Clarendon, slab or freeform.
bool isSerifClass(std::uint32_t stylisticClass);

// The folders that decide a file's Location.
struct LocationRoots {
    std::vector<std::string> system;          // prefixes, each ending in "/"
    std::vector<std::string> systemExcluded;  // prefixes inside `system` that are not system
    std::vector<std::string> library;
    std::vector<std::string> user;
    // This machine's folders (user folders from XDG_DATA_HOME, HOME and the
    // account database), symbolic links resolved.
    static LocationRoots current();
};

// The location of a file: its path with symbolic links resolved, compared
// with the roots in the order system, library, user; no file is unknown.
Location location(const std::optional<std::filesystem::path>& file);
Location location(const std::optional<std::filesystem::path>& file, const LocationRoots& roots);

// The weight axis ("wght") of the font at `file` (face `faceIndex`), bounded
// as `weightRangeFromAxis` does; nothing for a font without one.
std::optional<WeightRange> variableWeightRange(const std::filesystem::path& file,
                                               unsigned faceIndex);
// An axis's minimum and maximum, rounded (halves away from zero), lower bound
// at least 1, upper bound at most 1000 and never below the lower one; nothing
// unless both are finite and minimum ≤ maximum.
std::optional<WeightRange> weightRangeFromAxis(double minimum, double maximum);

// CSS weight for a normalised weight trait (−1…1): the nearest of the anchors
// −0.8 (100), −0.6, −0.4, 0 (400), 0.23, 0.3, 0.4, 0.56, 0.62 (900), starting
// from 400 and replacing only on a strictly nearer anchor.
int cssWeight(double trait);
// CSS weight for an OpenType weight (usWeightClass, Pango's weights): the
// weight is placed on the trait scale between the anchors and read back with
// `cssWeight`, so 100…900 map to themselves.
int cssWeightFromOpenType(double weight);

}  // namespace FontResolver
}  // namespace larkspin
