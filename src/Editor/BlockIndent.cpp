#include "Editor/BlockIndent.hpp"

namespace larkspin::BlockIndent {

namespace {

bool isBlank(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

std::string outdentLine(std::string_view line) {
    if (line.starts_with(indentUnit)) return std::string(line.substr(indentUnit.size()));
    if (line.starts_with('\t')) return std::string(line.substr(1));
    const std::size_t spaces = line.find_first_not_of(' ');
    return spaces == std::string_view::npos ? std::string() : std::string(line.substr(spaces));
}

std::optional<std::string> shift(std::string_view block, bool outdent) {
    std::string result;
    result.reserve(block.size() + 16);
    std::size_t start = 0;
    const bool endsWithNewline = !block.empty() && block.back() == '\n';
    const std::size_t stop = endsWithNewline ? block.size() - 1 : block.size();
    while (true) {
        const std::size_t nl = block.find('\n', start);
        const std::size_t end = (nl == std::string_view::npos || nl >= stop) ? stop : nl;
        const std::string_view line = block.substr(start, end - start);
        if (outdent) {
            result += outdentLine(line);
        } else {
            if (!isBlank(line)) result += indentUnit;
            result += line;
        }
        if (end >= stop) break;
        result += '\n';
        start = end + 1;
    }
    if (endsWithNewline) result += '\n';
    if (result == block) return std::nullopt;
    return result;
}

}  // namespace larkspin::BlockIndent
