#include "Platform/Json/BoundedJSON.hpp"

#include <fmt/format.h>

namespace larkspin {

std::optional<nlohmann::json> parseBoundedJSON(std::string_view text, std::string& failure) {
    nlohmann::json result;
    // nlohmann's own tree builder, which keeps the parser's semantics exactly.
    nlohmann::detail::json_sax_dom_parser<nlohmann::json> builder(result,
                                                                  /*allow_exceptions=*/false);
    DepthLimitedSax<decltype(builder)> limited(builder);
    const bool parsed = nlohmann::json::sax_parse(text.begin(), text.end(), &limited);
    if (parsed && !builder.is_errored()) return result;
    if (limited.tooDeep()) {
        failure = fmt::format("嵌套超过 {} 层", maximumJSONDepth);
    } else {
        failure = "不是合法的 JSON 文本";
    }
    return std::nullopt;
}

}  // namespace larkspin
