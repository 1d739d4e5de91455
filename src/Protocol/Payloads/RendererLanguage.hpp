#pragma once

#include <span>
#include <string>
#include <vector>

namespace larkspin::RendererLanguage {

// The language of the page's own texts: "en" when the first preferred
// localisation is English ("en", or "en-…"/"en_…" in any letter case),
// "zh-Hans" for anything else and for an empty list.
std::string resolve(std::span<const std::string> preferredLocalizations);

// The localisations we ship ("en", "zh-Hans"), in the order of the user's
// preferred languages (g_get_language_names: LANGUAGE, LC_ALL, LC_MESSAGES,
// LANG), without repeats. "C", "POSIX" and languages we do not ship are
// skipped, so the list may be empty.
std::vector<std::string> preferredLocalizations();

// The same over a given list of locale names ("en_GB.UTF-8", "zh_CN", "C"…).
std::vector<std::string> preferredLocalizations(std::span<const std::string> languageNames);

}  // namespace larkspin::RendererLanguage
