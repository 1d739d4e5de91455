#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace larkspin {

// Tab and Shift+Tab over whole lines.
namespace BlockIndent {

inline constexpr std::string_view indentUnit = "    ";

// `block` is whole lines with their terminators. Indenting puts four spaces
// before every line that is not blank (only spaces and tabs, a carriage
// return before its line feed aside); outdenting removes one step from each
// (`outdentLine`). Carriage returns stay where they were. Nothing when the
// block would not change.
std::optional<std::string> shift(std::string_view block, bool outdent);

// Four leading spaces go; else one leading tab; else all leading spaces.
std::string outdentLine(std::string_view line);

}  // namespace BlockIndent

}  // namespace larkspin
