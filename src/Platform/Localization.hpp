#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace larkspin::L10n {

// The text shown for a localisation key. Every user-visible text of the program
// goes through here; the defaults live in one table (Localizable.cpp). A key
// that is not in the table is returned as it stands and logged once.
std::string text(std::string_view key);

// The text for `key` with its placeholders filled in order. Placeholders are
// "%@", "%d", "%ld", "%lld" (consumed in order) or positional "%1$@"; "%%" is a
// literal percent sign. A missing argument leaves the placeholder empty.
std::string format(std::string_view key, std::initializer_list<std::string_view> args);

// Substitution alone, for texts that are already looked up.
std::string substitute(std::string_view pattern, std::initializer_list<std::string_view> args);

// True when the table holds `key`.
bool contains(std::string_view key);

}  // namespace larkspin::L10n
