#include "Appearance/Fonts/FontResolver.hpp"

#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/Text/TextTrimming.hpp"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include <glib.h>
#include <hb-ot.h>
#include <hb.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <set>

namespace larkspin::FontResolver {

namespace {

// One font as fontconfig lists it.
struct Member {
    std::vector<std::string> families;
    std::string style;
    std::string postScriptName;
    std::string fullName;
    double openTypeWeight = 400;
    int slant = 0;
    int width = 100;
    int spacing = 0;
    std::optional<std::filesystem::path> file;
    unsigned index = 0;
};



// fontconfig's family comparison: letter case and blanks do not count.
bool sameFamily(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (true) {
        while (i < a.size() && a[i] == ' ') ++i;
        while (j < b.size() && b[j] == ' ') ++j;
        if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
        if (g_ascii_tolower(a[i]) != g_ascii_tolower(b[j])) return false;
        ++i;
        ++j;
    }
}

std::optional<std::string> patternString(FcPattern* pattern, const char* object, int n = 0) {
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, object, n, &value) != FcResultMatch || value == nullptr) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(value));
}

std::optional<double> patternNumber(FcPattern* pattern, const char* object) {
    double d = 0;
    if (FcPatternGetDouble(pattern, object, 0, &d) == FcResultMatch) return d;
    int i = 0;
    if (FcPatternGetInteger(pattern, object, 0, &i) == FcResultMatch) return i;
    return std::nullopt;
}

// Every font of the current fontconfig configuration, upright before
// slanted, normal width first, then by weight and PostScript name, so that
// a family's first member is its plainest face. The base pattern of a
// variable font (whose weight is a range) is left out: its named instances
// are listed as faces of their own.
std::vector<Member> listMembers() {
    std::vector<Member> out;
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects =
        FcObjectSetBuild(FC_FAMILY, FC_STYLE, FC_POSTSCRIPT_NAME, FC_FULLNAME, FC_WEIGHT, FC_SLANT,
                         FC_WIDTH, FC_SPACING, FC_FILE, FC_INDEX, FC_VARIABLE, nullptr);
    FcFontSet* set = FcFontList(nullptr, pattern, objects);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    if (set == nullptr) return out;
    for (int i = 0; i < set->nfont; ++i) {
        FcPattern* font = set->fonts[i];
        FcBool variable = FcFalse;
        if (FcPatternGetBool(font, FC_VARIABLE, 0, &variable) == FcResultMatch && variable)
            continue;
        Member m;
        for (int n = 0;; ++n) {
            auto family = patternString(font, FC_FAMILY, n);
            if (!family) break;
            m.families.push_back(std::move(*family));
        }
        if (m.families.empty()) continue;
        m.style = patternString(font, FC_STYLE).value_or("");
        m.postScriptName = patternString(font, FC_POSTSCRIPT_NAME).value_or("");
        m.fullName = patternString(font, FC_FULLNAME).value_or("");
        const auto weight = patternNumber(font, FC_WEIGHT);
        if (!weight) continue;  // a weight range: not one face
        m.openTypeWeight = FcWeightToOpenTypeDouble(*weight);
        m.slant = static_cast<int>(patternNumber(font, FC_SLANT).value_or(FC_SLANT_ROMAN));
        m.width = static_cast<int>(patternNumber(font, FC_WIDTH).value_or(FC_WIDTH_NORMAL));
        m.spacing = static_cast<int>(patternNumber(font, FC_SPACING).value_or(FC_PROPORTIONAL));
        if (auto file = patternString(font, FC_FILE)) m.file = std::filesystem::path(*file);
        m.index = static_cast<unsigned>(patternNumber(font, FC_INDEX).value_or(0));
        out.push_back(std::move(m));
    }
    FcFontSetDestroy(set);
    std::stable_sort(out.begin(), out.end(), [](const Member& a, const Member& b) {
        if (a.slant != b.slant) return a.slant < b.slant;
        const int wa = std::abs(a.width - FC_WIDTH_NORMAL),
                  wb = std::abs(b.width - FC_WIDTH_NORMAL);
        if (wa != wb) return wa < wb;
        if (a.openTypeWeight != b.openTypeWeight) return a.openTypeWeight < b.openTypeWeight;
        if (a.postScriptName != b.postScriptName) return a.postScriptName < b.postScriptName;
        if (a.file != b.file) return a.file < b.file;
        return a.index < b.index;
    });
    return out;
}

// Reads OS/2 family classes, one FreeType library for one query.
class FamilyClassReader {
public:
    FamilyClassReader() {
        if (FT_Init_FreeType(&library_) != 0) library_ = nullptr;
    }
    ~FamilyClassReader() {
        if (library_) FT_Done_FreeType(library_);
    }
    FamilyClassReader(const FamilyClassReader&) = delete;
    FamilyClassReader& operator=(const FamilyClassReader&) = delete;

    std::uint32_t stylisticClass(const std::optional<std::filesystem::path>& file, unsigned index) {
        if (!library_ || !file) return 0;
        FT_Face face = nullptr;
        // Named instances share their file's tables: open the plain face.
        if (FT_New_Face(library_, file->c_str(), static_cast<FT_Long>(index & 0xFFFF), &face) !=
            0) {
            return 0;
        }
        std::uint32_t out = 0;
        if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
            os2 != nullptr && os2->version != 0xFFFF) {
            const auto familyClass = static_cast<std::uint16_t>(os2->sFamilyClass);
            out = (static_cast<std::uint32_t>(familyClass >> 8) & 0xF) << 28;
        }
        FT_Done_Face(face);
        return out;
    }

private:
    FT_Library library_ = nullptr;
};

std::optional<Face> makeFace(const Member& m, FamilyClassReader& classes,
                             const LocationRoots& roots) {
    if (m.postScriptName.empty()) return std::nullopt;
    Face face;
    face.postScriptName = m.postScriptName;
    face.styleName = m.style;
    face.cssWeight = cssWeightFromOpenType(m.openTypeWeight);
    face.file = m.file;
    face.location = location(m.file, roots);
    face.stylisticClass = classes.stylisticClass(m.file, m.index);
    face.isSerif = isSerifClass(face.stylisticClass) || nameLooksSerif(m.postScriptName);
    face.faceIndex = m.index;
    return face;
}

std::string canonicalPath(const std::filesystem::path& path) {
    std::error_code ec;
    auto resolved = std::filesystem::canonical(path, ec);
    if (ec) resolved = std::filesystem::weakly_canonical(path, ec);
    if (ec) resolved = std::filesystem::absolute(path, ec).lexically_normal();
    return resolved.string();
}

std::string folderPrefix(const std::filesystem::path& folder) {
    std::string out = canonicalPath(folder);
    if (out.empty() || out.back() != '/') out += '/';
    return out;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string_view rawValue(Location location) {
    switch (location) {
        case Location::system:
            return "system";
        case Location::library:
            return "library";
        case Location::user:
            return "user";
        case Location::other:
            return "other";
        case Location::unknown:
            return "unknown";
    }
    return "unknown";
}

std::vector<int> ResolvedFont::supportedWeights() const {
    std::set<int> weights;
    for (const auto& face : faces) weights.insert(face.cssWeight);
    if (variableWeightRange) {
        for (int w = 100; w <= 900; w += 100) {
            if (variableWeightRange->contains(w)) weights.insert(w);
        }
    }
    return {weights.begin(), weights.end()};
}

int ResolvedFont::nearestSupportedWeight(int target) const {
    const auto weights = supportedWeights();
    if (weights.empty()) return 400;
    int best = weights.front();
    for (int w : weights) {
        if (std::abs(w - target) < std::abs(best - target)) best = w;  // ascending: lower wins ties
    }
    return best;
}

std::optional<ResolvedFont> resolve(std::string_view name) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();  // reads font files and fontconfig's caches
    const std::string request = trimmedWhitespace(name);
    if (request.empty()) return std::nullopt;
    const auto members = listMembers();

    // The family value that matched, as installed, and its members.
    std::string familyName;
    auto collect = [&members](std::string_view family, std::string& matched) {
        std::vector<const Member*> found;
        for (const auto& m : members) {
            for (const auto& f : m.families) {
                if (sameFamily(f, family)) {
                    if (found.empty()) matched = f;
                    found.push_back(&m);
                    break;
                }
            }
        }
        return found;
    };
    auto found = collect(request, familyName);
    if (found.empty()) {
        // Not a family: perhaps the PostScript name of one of its fonts.
        const Member* named = nullptr;
        for (const auto& m : members) {
            if (!m.postScriptName.empty() &&
                g_ascii_strcasecmp(m.postScriptName.c_str(), request.c_str()) == 0) {
                named = &m;
                break;
            }
        }
        if (named == nullptr) return std::nullopt;
        found = collect(named->families.front(), familyName);
        if (found.empty()) return std::nullopt;
    }

    FamilyClassReader classes;
    const auto roots = LocationRoots::current();
    std::vector<Face> faces;
    std::vector<const Member*> faceMembers;
    std::set<std::string> seen;
    for (const Member* m : found) {
        if (!seen.insert(m->postScriptName).second) continue;  // the same font installed twice
        if (auto face = makeFace(*m, classes, roots)) {
            faces.push_back(std::move(*face));
            faceMembers.push_back(m);
        }
    }
    if (faces.empty()) return std::nullopt;
    std::vector<std::size_t> order(faces.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&faces](std::size_t a, std::size_t b) {
        return faces[a].cssWeight < faces[b].cssWeight;
    });
    std::vector<Face> sorted;
    std::vector<const Member*> sortedMembers;
    for (std::size_t i : order) {
        sorted.push_back(faces[i]);
        sortedMembers.push_back(faceMembers[i]);
    }

    std::size_t representative = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (sorted[i].cssWeight == 400) {
            representative = i;
            break;
        }
    }
    const Face& rep = sorted[representative];
    ResolvedFont out;
    out.requestedName = request;
    out.familyName = familyName;
    out.displayName = sortedMembers[representative]->fullName.empty()
                          ? familyName
                          : sortedMembers[representative]->fullName;
    out.postScriptName = rep.postScriptName;
    out.file = rep.file;
    out.location = rep.location;
    if (rep.file) out.variableWeightRange = variableWeightRange(*rep.file, rep.faceIndex);
    out.faces = std::move(sorted);
    return out;
}

std::vector<std::string> families(Location where, bool excludingSerif) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();  // reads font files and fontconfig's caches
    const auto members = listMembers();
    const auto roots = LocationRoots::current();
    FamilyClassReader classes;
    std::set<std::string> decided;
    std::vector<std::string> out;
    for (const auto& m : members) {
        const std::string& family = m.families.front();
        // Only a family's first member speaks for it.
        if (!decided.insert(family).second) continue;
        if (m.postScriptName.empty()) continue;
        if (location(m.file, roots) != where) continue;
        if (excludingSerif) {
            if (nameLooksSerif(family) || nameLooksSerif(m.postScriptName)) continue;
            if (isSerifClass(classes.stylisticClass(m.file, m.index))) continue;
        }
        out.push_back(family);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> fixedPitchFamilies() {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();  // reads font files and fontconfig's caches
    std::set<std::string> names;
    for (const auto& m : listMembers()) {
        if (m.spacing >= FC_DUAL) names.insert(m.families.front());
    }
    return {names.begin(), names.end()};
}

bool nameLooksSerif(std::string_view name) {
    static constexpr std::array<std::string_view, 17> fragments = {
        "songti",      "song",    "宋",       "times",    "georgia", "serif",
        "baskerville", "didot",   "palatino", "garamond", "bodoni",  "charter",
        "minion",      "mingliu", "明朝",     "mincho",   "batang"};
    const std::string lower = asciiLowercased(name);
    if (lower.find("sans") != std::string::npos) return false;
    return std::any_of(fragments.begin(), fragments.end(), [&lower](std::string_view fragment) {
        return lower.find(fragment) != std::string::npos;
    });
}

bool isSerifClass(std::uint32_t stylisticClass) {
    switch (stylisticClass) {
        case 0x10000000u:  // old-style serifs
        case 0x20000000u:  // transitional serifs
        case 0x30000000u:  // modern serifs
        case 0x40000000u:  // Clarendon serifs
        case 0x50000000u:  // slab serifs
        case 0x70000000u:  // freeform serifs
            return true;
        default:
            return false;
    }
}

LocationRoots LocationRoots::current() {
    LocationRoots roots;
    roots.system = {"/usr/"};
    roots.systemExcluded = {"/usr/local/"};
    roots.library = {folderPrefix("/usr/local/share/fonts")};
    auto addUser = [&roots](const std::filesystem::path& folder) {
        const std::string prefix = folderPrefix(folder);
        if (std::find(roots.user.begin(), roots.user.end(), prefix) == roots.user.end()) {
            roots.user.push_back(prefix);
        }
    };
    addUser(std::filesystem::path(g_get_user_data_dir()) / "fonts");
    if (const char* home = g_getenv("HOME"); home != nullptr && *home != '\0') {
        addUser(std::filesystem::path(home) / ".local/share/fonts");
        addUser(std::filesystem::path(home) / ".fonts");
    }
    // The account's own home, in case HOME points elsewhere.
    std::array<char, 4096> buffer{};
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir) {
        addUser(std::filesystem::path(found->pw_dir) / ".local/share/fonts");
        addUser(std::filesystem::path(found->pw_dir) / ".fonts");
    }
    return roots;
}

Location location(const std::optional<std::filesystem::path>& file) {
    if (!file) return Location::unknown;
    return location(file, LocationRoots::current());
}

Location location(const std::optional<std::filesystem::path>& file, const LocationRoots& roots) {
    if (!file || file->empty()) return Location::unknown;
    const std::string path = canonicalPath(*file);
    auto under = [&path](const std::vector<std::string>& prefixes) {
        return std::any_of(prefixes.begin(), prefixes.end(),
                           [&path](const std::string& p) { return startsWith(path, p); });
    };
    if (under(roots.system) && !under(roots.systemExcluded)) return Location::system;
    if (under(roots.library)) return Location::library;
    if (under(roots.user)) return Location::user;
    return Location::other;
}

std::optional<WeightRange> weightRangeFromAxis(double minimum, double maximum) {
    if (!std::isfinite(minimum) || !std::isfinite(maximum) || minimum > maximum)
        return std::nullopt;
    const double lowerRounded = std::round(minimum);
    const double upperRounded = std::round(maximum);
    const int lower = static_cast<int>(std::clamp(lowerRounded, 1.0, 1.0e6));
    const int upper = std::max(lower, static_cast<int>(std::clamp(upperRounded, -1.0e6, 1000.0)));
    return WeightRange{lower, upper};
}

std::optional<WeightRange> variableWeightRange(const std::filesystem::path& file,
                                               unsigned faceIndex) {
    hb_blob_t* blob = hb_blob_create_from_file_or_fail(file.c_str());
    if (blob == nullptr) return std::nullopt;
    hb_face_t* face = hb_face_create(blob, faceIndex & 0xFFFF);
    hb_blob_destroy(blob);
    std::optional<WeightRange> out;
    const unsigned count = hb_ot_var_get_axis_count(face);
    std::vector<hb_ot_var_axis_info_t> axes(count);
    unsigned fetched = count;
    if (count > 0) hb_ot_var_get_axis_infos(face, 0, &fetched, axes.data());
    for (unsigned i = 0; i < fetched; ++i) {
        if (axes[i].tag != HB_OT_TAG_VAR_AXIS_WEIGHT) continue;
        if (auto range = weightRangeFromAxis(axes[i].min_value, axes[i].max_value)) {
            out = range;
            break;
        }
    }
    hb_face_destroy(face);
    return out;
}

namespace {
struct Anchor {
    double trait;
    int weight;
};
constexpr std::array<Anchor, 9> anchors = {{{-0.8, 100},
                                            {-0.6, 200},
                                            {-0.4, 300},
                                            {0.0, 400},
                                            {0.23, 500},
                                            {0.3, 600},
                                            {0.4, 700},
                                            {0.56, 800},
                                            {0.62, 900}}};
}  // namespace

int cssWeight(double trait) {
    int best = 400;
    double bestDistance = std::abs(trait - 0.0);
    for (const auto& anchor : anchors) {
        const double distance = std::abs(trait - anchor.trait);
        if (distance < bestDistance) {
            best = anchor.weight;
            bestDistance = distance;
        }
    }
    return best;
}

int cssWeightFromOpenType(double weight) {
    if (!std::isfinite(weight)) return 400;
    if (weight <= anchors.front().weight) return anchors.front().weight;
    if (weight >= anchors.back().weight) return anchors.back().weight;
    for (std::size_t i = 1; i < anchors.size(); ++i) {
        const Anchor& low = anchors[i - 1];
        const Anchor& high = anchors[i];
        if (weight <= high.weight) {
            const double t = (weight - low.weight) / (high.weight - low.weight);
            return cssWeight(low.trait + t * (high.trait - low.trait));
        }
    }
    return 400;
}

}  // namespace larkspin::FontResolver
