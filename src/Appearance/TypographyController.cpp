#include "Appearance/TypographyController.hpp"

#include <fmt/format.h>
#include <glib.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>

#include "Appearance/AppearanceController.hpp"
#include "Platform/Text/TextTrimming.hpp"
#include "Platform/Text/ErrorText.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"

namespace larkspin {

namespace {

// Characters that cannot stand in a CSS string as they are.
bool needsEscape(unsigned char c) {
    return c == '"' || c == '\\' || c < 0x20 || c == 0x7F;
}

std::string cssString(std::string_view text) {
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {
            out += fmt::format("\\{:X} ", c);  // a hex escape ends at the blank
        } else {
            out += ch;
        }
    }
    out += '"';
    return out;
}

bool isHex(char c) {
    return g_ascii_isxdigit(c);
}

// The content of a complete double-quoted CSS string, escapes undone; nothing
// when `text` is not exactly one such string.
std::optional<std::string> parseCSSString(std::string_view text) {
    if (text.size() < 2 || text.front() != '"') return std::nullopt;
    std::string out;
    std::size_t i = 1;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') return i + 1 == text.size() ? std::optional<std::string>(out) : std::nullopt;
        if (c != '\\') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        if (isHex(text[i + 1])) {
            std::size_t j = i + 1;
            std::uint32_t code = 0;
            while (j < text.size() && j < i + 7 && isHex(text[j])) {
                code = code * 16 + static_cast<std::uint32_t>(g_ascii_xdigit_value(text[j]));
                ++j;
            }
            if (j < text.size() && text[j] == ' ') ++j;
            if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
            char buffer[8] = {};
            const int length = g_unichar_to_utf8(code, buffer);
            out.append(buffer, static_cast<std::size_t>(length));
            i = j;
        } else {
            out += text[i + 1];
            i += 2;
        }
    }
    return std::nullopt;
}

// The theme's own size, width, line height and wide blocks over `s`.
TypographySettings withThemeTypography(TypographySettings s) {
    s.fontSizePx = TypographySettings::defaultFontSize;
    s.widthPreset = TypographyWidthPreset::comfortable;
    s.lineHeightPreset = TypographyLineHeightPreset::standard;
    s.wideBlocks = WideBlockMode::aligned;
    return s;
}

std::string shortestDecimal(double value) {
    std::string text = fmt::format("{}", value);
    if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
    return text;
}

}  // namespace

int pangoWeight(PlatformFontWeight weight) {
    switch (weight) {
        case PlatformFontWeight::ultraLight:
            return 100;
        case PlatformFontWeight::thin:
            return 200;
        case PlatformFontWeight::light:
            return 300;
        case PlatformFontWeight::regular:
            return 400;
        case PlatformFontWeight::medium:
            return 500;
        case PlatformFontWeight::semibold:
            return 600;
        case PlatformFontWeight::bold:
            return 700;
        case PlatformFontWeight::heavy:
            return 800;
        case PlatformFontWeight::black:
            return 900;
    }
    return 400;
}

TypographyController::FontSource TypographyController::FontSource::installed() {
    return FontSource{
        .resolve = [](std::string_view name) { return FontResolver::resolve(name); },
        .families =
            [](FontResolver::Location location, bool excludingSerif) {
                return FontResolver::families(location, excludingSerif);
            },
        .fixedPitchFamilies = [] { return FontResolver::fixedPitchFamilies(); },
    };
}

TypographyController::TypographyController(UserDefaults& defaults, NotificationCenter& center,
                                           FontSource fonts)
    : defaults_(defaults),
      center_(center),
      fonts_(std::move(fonts)),
      self_(std::make_shared<TypographyController*>(this)) {
    // Ahead of the first page, the settings window or the font panel.
    tasks_.spawn(prepareStored(self_));
}

TypographyController::~TypographyController() = default;

// MARK: Reading

namespace {

// An integer, or a real without a fraction (the largest reals all are).
bool isWholeValue(const nlohmann::json& value) {
    if (!value.is_number_float()) return value.is_number();
    const double number = value.get<double>();
    return std::isinf(number) || (std::isfinite(number) && std::trunc(number) == number);
}

}  // namespace

TypographySettings TypographyController::settings() const {
    TypographySettings s = TypographySettings::defaults;
    if (auto size = defaults_.value(fontSizeKey); size && size->is_number()) {
        const double d = size->get<double>();
        if (std::isfinite(d)) s.fontSizePx = d;
    }
    if (auto raw = defaults_.string(widthPresetKey)) {
        if (auto p = widthPresetFromRaw(*raw)) s.widthPreset = *p;
    }
    if (auto raw = defaults_.string(lineHeightPresetKey)) {
        if (auto p = lineHeightPresetFromRaw(*raw)) s.lineHeightPreset = *p;
    }
    s.bodyFamily = storedFamily(bodyFamilyKey);
    s.monoFamily = storedFamily(monoFamilyKey);
    s.headingFamily = storedFamily(headingFamilyKey);
    // Any stored number with a whole value, saturated rather than wrapped, so
    // that the clamp below sees which side of the range it lies on. A
    // fraction is no weight we wrote: it is ignored, not rounded.
    if (auto weight = defaults_.value(fontWeightKey); weight && isWholeValue(*weight)) {
        if (auto number = UserDefaults::wholeNumber(*weight)) s.fontWeight = *number;
    }
    if (auto raw = defaults_.string(wideBlocksKey)) {
        if (auto m = wideBlockModeFromRaw(*raw)) s.wideBlocks = *m;
    }
    return s.clamped();
}

std::string TypographyController::storedFamily(std::string_view key) const {
    std::string family = defaults_.string(key).value_or("");
    if (family.size() <= TypographySettings::maximumFamilyLength) return family;
    // No font has such a name, and every use of it (matching, quoting, the
    // page's styles, the settings window's lists) grows with its length.
    const std::size_t seen = std::hash<std::string>{}(family);
    auto [entry, added] = refusedFamilies_.try_emplace(std::string(key), seen);
    if (added || entry->second != seen) {
        entry->second = seen;
        AppLog::document.error("偏好设置 %{public}s 的字体名过长（%ld 字节，上限 %ld），忽略", key,
                               static_cast<long>(family.size()),
                               static_cast<long>(TypographySettings::maximumFamilyLength));
    }
    return {};
}

const std::optional<FontResolver::ResolvedFont>& TypographyController::resolved(
    const std::string& family) const {
    auto it = resolveCache_.find(family);
    if (it == resolveCache_.end()) {
        it = resolveCache_.emplace(family, fonts_.resolve ? fonts_.resolve(family) : std::nullopt)
                 .first;
    }
    return it->second;
}

TypographyFontStatus TypographyController::fontStatus(FontRole role) const {
    const TypographySettings s = settings();
    const std::string& stored = role == FontRole::body   ? s.bodyFamily
                                : role == FontRole::mono ? s.monoFamily
                                                         : s.headingFamily;
    TypographyFontStatus status;
    status.role = role;
    status.requestedWeight = s.fontWeight;
    const std::string family = unquotedFamily(stored);
    if (family.empty()) {
        status.kind = TypographyFontStatus::Kind::defaultStack;
        status.effectiveWeight = s.fontWeight;
        return status;
    }
    status.requestedFamily = family;
    const auto& font = resolved(family);
    if (!font) {
        status.kind = TypographyFontStatus::Kind::familyMissing;
        status.effectiveWeight = 400;
        return status;
    }
    status.availableWeights = font->supportedWeights();
    status.effectiveFamily = font->familyName;
    status.location = font->location;
    if (role == FontRole::body) {
        status.effectiveWeight = font->nearestSupportedWeight(static_cast<int>(s.fontWeight));
        const bool supported =
            std::find(status.availableWeights.begin(), status.availableWeights.end(),
                      s.fontWeight) != status.availableWeights.end();
        status.kind = supported ? TypographyFontStatus::Kind::exact
                                : TypographyFontStatus::Kind::weightMapped;
    } else {
        status.kind = TypographyFontStatus::Kind::exact;
        status.effectiveWeight = s.fontWeight;
    }
    return status;
}

TypographySettings TypographyController::effectiveSettings() const {
    TypographySettings s = settings();
    auto effective = [this](FontRole role) {
        const auto status = fontStatus(role);
        return status.effectiveFamily.empty() ? std::string()
                                              : quotedFamily(status.effectiveFamily);
    };
    s.bodyFamily = effective(FontRole::body);
    s.monoFamily = effective(FontRole::mono);
    s.headingFamily = effective(FontRole::heading);
    s.fontWeight = fontStatus(FontRole::body).effectiveWeight;
    return s;
}

std::vector<int> TypographyController::availableBodyWeights() const {
    const auto status = fontStatus(FontRole::body);
    if (status.kind == TypographyFontStatus::Kind::exact ||
        status.kind == TypographyFontStatus::Kind::weightMapped) {
        return status.availableWeights;
    }
    return {100, 200, 300, 400, 500, 600, 700, 800, 900};
}

Task<std::vector<std::string>> TypographyController::loadCandidateFamilies(FontRole role) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (auto it = familyCache_.find(role); it != familyCache_.end()) co_return it->second;
    const std::weak_ptr<TypographyController*> alive = self_;
    auto list = [fonts = fonts_, role] { return listCandidateFamilies(fonts, role); };
    std::vector<std::string> families = co_await runOn(WorkerPool::shared(), std::move(list));
    const auto self = alive.lock();
    if (self && *self) (*self)->familyCache_.try_emplace(role, families);
    co_return families;
}

Task<void> TypographyController::prepareFamily(std::string family) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    std::vector<std::string> families{std::move(family)};
    co_await prepareFamilies(self_, std::move(families));
}

Task<void> TypographyController::prepareStoredFamilies() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    return prepareStored(self_);
}

Task<void> TypographyController::prepareStored(std::weak_ptr<TypographyController*> alive) {
    // The settings may change while their families are resolved: done once
    // the families just prepared are still the stored ones.
    std::vector<std::string> families;
    while (true) {
        auto self = alive.lock();
        if (!self || !*self) co_return;
        const TypographySettings s = (*self)->settings();
        std::vector<std::string> stored{s.bodyFamily, s.monoFamily, s.headingFamily};
        if (stored == families) co_return;
        families = std::move(stored);
        self.reset();  // not held while waiting: the controller may go
        co_await prepareFamilies(alive, families);
    }
}

Task<void> TypographyController::prepareFamilies(std::weak_ptr<TypographyController*> alive,
                                                 std::vector<std::string> families) {
    std::vector<std::string> awaited;
    {
        const auto self = alive.lock();
        if (!self || !*self || !(*self)->fonts_.resolve) co_return;
        TypographyController& controller = **self;
        std::vector<std::string> wanted;
        for (const auto& requested : families) {
            std::string family = unquotedFamily(requested);
            if (family.empty() || controller.resolveCache_.contains(family)) continue;
            if (std::find(awaited.begin(), awaited.end(), family) != awaited.end()) continue;
            if (controller.resolving_.try_emplace(family).second) wanted.push_back(family);
            awaited.push_back(std::move(family));
        }
        // Resolved by a task of the controller's: a waiter that goes does
        // not end the resolution the others wait for.
        if (!wanted.empty()) controller.tasks_.spawn(controller.resolveFamilies(std::move(wanted)));
    }
    for (const auto& family : awaited) {
        auto wait = [alive, family](Completion<void> done) {
            const auto owner = alive.lock();
            if (owner && *owner) {
                auto& resolving = (*owner)->resolving_;
                if (auto entry = resolving.find(family); entry != resolving.end()) {
                    entry->second.push_back(std::move(done));
                    return;
                }
            }
            done.resolve();
        };
        try {
            co_await awaitCompletion<void>(std::move(wait));
        } catch (const BrokenPromise&) {
            co_return;  // the controller went while the family was resolved
        }
    }
}

Task<void> TypographyController::resolveFamilies(std::vector<std::string> families) {
    using Resolved = std::vector<std::optional<FontResolver::ResolvedFont>>;
    auto resolve = [fonts = fonts_, families]() {
        Resolved found;
        for (const auto& family : families) found.push_back(fonts.resolve(family));
        return found;
    };
    std::optional<Resolved> found;
    try {
        found = co_await runOn(WorkerPool::shared(), std::move(resolve));
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        AppLog::document.error("解析字体失败：%{private}s", ErrorText::describe(std::current_exception()));
    }
    for (std::size_t i = 0; i < families.size(); ++i) {
        // A failed resolution is not remembered: the next question asks again.
        if (found) resolveCache_.try_emplace(families[i], std::move((*found)[i]));
        auto waiting = resolving_.extract(families[i]);
        if (waiting.empty()) continue;
        for (const Completion<void>& waiter : waiting.mapped()) waiter.resolve();
    }
}

std::vector<std::string> TypographyController::listCandidateFamilies(const FontSource& fonts,
                                                                     FontRole role) {
    std::set<std::string> names;
    if (fonts.families) {
        for (auto location : FontResolver::candidateLocations) {
            for (auto& name : fonts.families(location, true)) {
                if (!name.empty() && name.front() != '.') names.insert(std::move(name));
            }
        }
    }
    if (role == FontRole::mono) {
        std::set<std::string> fixed;
        if (fonts.fixedPitchFamilies) {
            for (auto& name : fonts.fixedPitchFamilies()) fixed.insert(std::move(name));
        }
        std::erase_if(names, [&fixed](const std::string& n) { return !fixed.contains(n); });
    }
    std::vector<std::string> out;
    for (const auto& name : names) {
        if (!FontResolver::nameLooksSerif(name)) out.push_back(name);
    }
    // Case-insensitive order of the user's language.
    std::vector<std::pair<std::string, std::string>> keyed;
    for (auto& name : out) {
        gchar* folded = g_utf8_casefold(name.c_str(), -1);
        gchar* key = g_utf8_collate_key(folded, -1);
        keyed.emplace_back(key, std::move(name));
        g_free(key);
        g_free(folded);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    out.clear();
    for (auto& [key, name] : keyed) out.push_back(std::move(name));
    return out;
}

// MARK: Changing

void TypographyController::update(const TypographySettings& proposed, std::string_view reason) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const TypographySettings next = proposed.clamped();
    if (next == settings()) return;
    // Every key ends up holding the new value; keys that already hold it are
    // not rewritten (each write replaces the preferences file).
    const nlohmann::json stored = defaults_.storedValues();
    auto write = [this, &stored](std::string_view key, nlohmann::json value) {
        const auto it = stored.find(std::string(key));
        if (it != stored.end() && *it == value && it->type() == value.type()) return;
        defaults_.setValue(key, std::move(value));
    };
    write(fontSizeKey, next.fontSizePx);
    write(widthPresetKey, std::string(rawValue(next.widthPreset)));
    write(lineHeightPresetKey, std::string(rawValue(next.lineHeightPreset)));
    write(bodyFamilyKey, next.bodyFamily);
    write(monoFamilyKey, next.monoFamily);
    write(headingFamilyKey, next.headingFamily);
    write(fontWeightKey, next.fontWeight);
    write(wideBlocksKey, std::string(rawValue(next.wideBlocks)));
    broadcast(reason);
}

void TypographyController::setFontSize(double size) {
    TypographySettings s = settings();
    s.fontSizePx = TypographySettings::clampFontSize(size);
    update(s, "字号 " + shortestDecimal(s.fontSizePx));
}

void TypographyController::setWidthPreset(TypographyWidthPreset preset) {
    TypographySettings s = settings();
    s.widthPreset = preset;
    update(s, "正文宽度 " + std::string(rawValue(preset)));
}

void TypographyController::setLineHeightPreset(TypographyLineHeightPreset preset) {
    TypographySettings s = settings();
    s.lineHeightPreset = preset;
    update(s, "行距 " + std::string(rawValue(preset)));
}

void TypographyController::setFamily(std::string_view family, FontRole role) {
    TypographySettings s = settings();
    const std::string value = trimmedWhitespace(family);
    if (value.size() > TypographySettings::maximumFamilyLength) {
        AppLog::document.error("字体名过长（%ld 字节，上限 %ld），不保存",
                               static_cast<long>(value.size()),
                               static_cast<long>(TypographySettings::maximumFamilyLength));
        return;
    }
    (role == FontRole::body   ? s.bodyFamily
     : role == FontRole::mono ? s.monoFamily
                              : s.headingFamily) = value;
    update(s,
           std::string(rawValue(role)) + " 字体 " + (value.empty() ? std::string("默认") : value));
}

void TypographyController::setFontWeight(std::int64_t weight) {
    TypographySettings s = settings();
    s.fontWeight = TypographySettings::clampFontWeight(weight);
    update(s, "字重 " + std::to_string(s.fontWeight));
}

void TypographyController::setWideBlocks(WideBlockMode mode) {
    TypographySettings s = settings();
    s.wideBlocks = mode;
    update(s, "宽块显示 " + std::string(rawValue(mode)));
}

void TypographyController::resetTypography() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    for (auto key : {fontSizeKey, widthPresetKey, lineHeightPresetKey, bodyFamilyKey, monoFamilyKey,
                     headingFamilyKey, fontWeightKey, wideBlocksKey}) {
        defaults_.remove(key);
    }
    broadcast("恢复全部排版默认值");
}

void TypographyController::restoreThemeTypography() {
    update(withThemeTypography(settings()), "恢复主题排版");
}

bool TypographyController::canRestoreThemeTypography() const {
    const TypographySettings s = settings();
    return withThemeTypography(s) != s;
}

void TypographyController::restoreAllAppearanceDefaults(AppearanceController& appearance,
                                                        UserDefaults& appearanceDefaults) {
    resetTypography();
    appearanceDefaults.remove(AppearanceController::lightThemeKey);
    appearanceDefaults.remove(AppearanceController::darkThemeKey);
    appearance.select(AppearanceMode::system);
}

bool TypographyController::canIncreaseFontSize() const {
    return settings().fontSizePx < TypographySettings::maximumFontSize;
}

bool TypographyController::canDecreaseFontSize() const {
    return settings().fontSizePx > TypographySettings::minimumFontSize;
}

void TypographyController::increaseFontSize() {
    if (canIncreaseFontSize()) setFontSize(settings().fontSizePx + 1);
}

void TypographyController::decreaseFontSize() {
    if (canDecreaseFontSize()) setFontSize(settings().fontSizePx - 1);
}

// MARK: Fonts and the font panel

ReaderFont TypographyController::currentFont(FontRole role) const {
    const double size = settings().fontSizePx;
    const auto status = fontStatus(role);
    if (!status.effectiveFamily.empty()) {
        if (const auto& font = resolved(status.effectiveFamily); font && !font->faces.empty()) {
            const int target =
                role == FontRole::body ? static_cast<int>(status.effectiveWeight) : 400;
            const FontResolver::Face* pick = &font->faces.front();
            for (const auto& face : font->faces) {
                if (std::abs(face.cssWeight - target) < std::abs(pick->cssWeight - target))
                    pick = &face;
            }
            return ReaderFont{font->familyName,
                              pick->postScriptName,
                              pick->styleName,
                              pick->cssWeight,
                              size,
                              false};
        }
    }
    if (role == FontRole::mono) return ReaderFont{"", "", "", 400, size, true};
    return ReaderFont{"", "", "", pangoWeight(platformWeight(status.effectiveWeight)), size, false};
}

void TypographyController::showFontPanel(FontRole role, FontPanel& panel, bool orderFront) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    fontPanelRole_ = role;
    std::weak_ptr<TypographyController*> weak = self_;
    panel.present(currentFont(role), role == FontRole::mono, orderFront,
                  [weak](const FontPanelSelection& selection) {
                      if (auto self = weak.lock()) (*self)->changeFont(selection);
                  });
}

void TypographyController::changeFont(const FontPanelSelection& selection) {
    tasks_.spawn(changeFontWhenPrepared(selection));
}

Task<void> TypographyController::changeFontWhenPrepared(FontPanelSelection selection) {
    co_await prepareFamily(selection.familyName);
    applyFontPanelSelection(selection);
}

void TypographyController::applyFontPanelSelection(const FontPanelSelection& selection) {
    if (selection.familyName.empty()) return;
    TypographySettings s = settings();
    const std::string family = quotedFamily(selection.familyName);
    switch (fontPanelRole_) {
        case FontRole::body:
            s.bodyFamily = family;
            s.fontWeight = selection.cssWeight;
            break;
        case FontRole::mono:
            s.monoFamily = family;
            break;
        case FontRole::heading:
            s.headingFamily = family;
            break;
    }
    update(s, "字体面板 " + std::string(rawValue(fontPanelRole_)) + " " + selection.familyName +
                  " " + selection.postScriptName);
}

// MARK: Pure helpers

std::string TypographyController::quotedFamily(std::string_view family) {
    const std::string name = trimmedWhitespace(family);
    if (name.empty()) return name;
    if (name.front() == '"') {
        // Already quoted: kept as it is when it is one well-formed CSS string,
        // otherwise quoted again from its content.
        if (parseCSSString(name)) return name;
        return cssString(unquotedFamily(name));
    }
    const bool mustQuote = std::any_of(name.begin(), name.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c == ' ' || c == '\'' || needsEscape(c);
    });
    return mustQuote ? cssString(name) : name;
}

std::string TypographyController::unquotedFamily(std::string_view family) {
    const std::string trimmed = trimmedWhitespace(family);
    if (auto content = parseCSSString(trimmed)) return trimmedWhitespace(*content);
    std::string_view view = trimmed;
    auto strip = [](char c) { return c == '"' || c == '\'' || c == ' '; };
    while (!view.empty() && strip(view.front())) view.remove_prefix(1);
    while (!view.empty() && strip(view.back())) view.remove_suffix(1);
    return trimmedWhitespace(view);
}

PlatformFontWeight TypographyController::platformWeight(std::int64_t css) {
    if (css < 151) return PlatformFontWeight::ultraLight;
    if (css <= 250) return PlatformFontWeight::thin;
    if (css <= 350) return PlatformFontWeight::light;
    if (css <= 450) return PlatformFontWeight::regular;
    if (css <= 550) return PlatformFontWeight::medium;
    if (css <= 650) return PlatformFontWeight::semibold;
    if (css <= 750) return PlatformFontWeight::bold;
    if (css <= 850) return PlatformFontWeight::heavy;
    return PlatformFontWeight::black;
}

// MARK: Announcing

void TypographyController::broadcast(std::string_view reason) {
    revision_ += 1;
    const TypographySettings s = settings();
    AppLog::document.info(
        "排版变化（%{public}s）：fontSize=%f width=%{public}s lineHeight=%{public}s "
        "body=%{public}s "
        "mono=%{public}s weight=%ld wideBlocks=%{public}s revision=%ld",
        reason, s.fontSizePx, rawValue(s.widthPreset), rawValue(s.lineHeightPreset),
        s.bodyFamily.empty() ? std::string("默认") : s.bodyFamily,
        s.monoFamily.empty() ? std::string("默认") : s.monoFamily, s.fontWeight,
        rawValue(s.wideBlocks), revision_);
    center_.post(didChangeNotification, this);
}

}  // namespace larkspin
