#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace larkspin {

// Deepest nesting of arrays and objects that any JSON text we read may have
// (preferences, the renderer protocol). Copying, comparing, writing or
// converting a parsed value recurses once per level, so a deeper text is
// refused when read rather than crashing whoever touches it later.
inline constexpr std::size_t maximumJSONDepth = 256;

// Stands between nlohmann's SAX parser and `Handler`: forwards every event and
// stops the parse when an array or object would open beyond
// maximumJSONDepth. The parser itself does not recurse, so the limit holds
// whatever the input.
template <typename Handler>
class DepthLimitedSax {
public:
    using json = nlohmann::json;

    explicit DepthLimitedSax(Handler& handler) : handler_(handler) {}

    // True when the parse stopped at the depth limit.
    bool tooDeep() const { return tooDeep_; }

    bool null() { return handler_.null(); }
    bool boolean(bool value) { return handler_.boolean(value); }
    bool number_integer(json::number_integer_t value) { return handler_.number_integer(value); }
    bool number_unsigned(json::number_unsigned_t value) { return handler_.number_unsigned(value); }
    bool number_float(json::number_float_t value, const json::string_t& text) {
        return handler_.number_float(value, text);
    }
    bool string(json::string_t& value) { return handler_.string(value); }
    bool binary(json::binary_t& value) { return handler_.binary(value); }
    bool start_object(std::size_t size) { return enter() && handler_.start_object(size); }
    bool key(json::string_t& key) { return handler_.key(key); }
    bool end_object() {
        --depth_;
        return handler_.end_object();
    }
    bool start_array(std::size_t size) { return enter() && handler_.start_array(size); }
    bool end_array() {
        --depth_;
        return handler_.end_array();
    }
    bool parse_error(std::size_t position, const std::string& token,
                     const nlohmann::detail::exception& error) {
        return handler_.parse_error(position, token, error);
    }

private:
    bool enter() {
        if (depth_ >= maximumJSONDepth) {
            tooDeep_ = true;
            return false;
        }
        ++depth_;
        return true;
    }

    Handler& handler_;
    std::size_t depth_ = 0;
    bool tooDeep_ = false;
};

// Parses one whole JSON text into nlohmann's tree, as nlohmann::json::parse
// does (a repeated key keeps its last value), but refuses nesting beyond
// maximumJSONDepth. On failure returns nothing and describes the fault in
// `failure`.
std::optional<nlohmann::json> parseBoundedJSON(std::string_view text, std::string& failure);

}  // namespace larkspin
