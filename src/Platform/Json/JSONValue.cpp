#include "Platform/Json/JSONValue.hpp"

#include <fmt/format.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

#include "Platform/Json/CodingError.hpp"

namespace larkspin {

namespace {

constexpr std::string_view kNotJSONValue = "不是合法的 JSON 值";

// Builds a JSONValue from nlohmann's SAX events, without recursion, behind
// DepthLimitedSax, so that nothing deeper than the limit is ever built.
class Builder {
public:
    using json = nlohmann::json;

    bool null() { return add(JSONValue::null()); }
    bool boolean(bool value) { return add(JSONValue::boolean(value)); }
    bool number_integer(json::number_integer_t value) {
        return add(JSONValue::number(static_cast<double>(value)));
    }
    bool number_unsigned(json::number_unsigned_t value) {
        return add(JSONValue::number(static_cast<double>(value)));
    }
    bool number_float(json::number_float_t value, const json::string_t& text) {
        if (!std::isfinite(value)) {
            return fail(fmt::format("{}：数值 {} 超出双精度范围", kNotJSONValue, text));
        }
        return add(JSONValue::number(value));
    }
    bool string(json::string_t& value) { return add(JSONValue::string(std::move(value))); }
    bool binary(json::binary_t&) { return fail(std::string(kNotJSONValue)); }
    bool start_object(std::size_t) { return open(JSONValue::object()); }
    bool key(json::string_t& key) {
        frames_.back().key = std::move(key);
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(JSONValue::array()); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
        return fail(fmt::format("JSON 文本无法解析：{}", error.what()));
    }

    JSONValue takeResult() { return std::move(*result_); }
    const std::string& failure() const { return failure_; }

private:
    struct Frame {
        JSONValue container;
        std::string key;  // objects: the key of the next member
    };

    bool open(JSONValue container) {
        frames_.push_back(Frame{std::move(container), {}});
        return true;
    }

    bool close() {
        JSONValue done = std::move(frames_.back().container);
        frames_.pop_back();
        return add(std::move(done));
    }

    bool add(JSONValue value) {
        if (frames_.empty()) {
            result_ = std::move(value);
            return true;
        }
        Frame& top = frames_.back();
        if (auto* array = top.container.arrayValue()) {
            array->push_back(std::move(value));
        } else {
            // A repeated key keeps its last value, as in the page's JSON.parse.
            top.container.objectValue()->insert_or_assign(std::move(top.key), std::move(value));
        }
        return true;
    }

    bool fail(std::string message) {
        failure_ = std::move(message);
        return false;
    }

    std::vector<Frame> frames_;
    std::optional<JSONValue> result_;
    std::string failure_;
};

// 2^53: every integer up to here is exact in a double.
constexpr double kExactIntegerLimit = 9007199254740992.0;

nlohmann::json toJSON(const JSONValue& value, std::string& path) {
    switch (value.kind()) {
        case JSONValue::Kind::boolean:
            return *value.boolValue();
        case JSONValue::Kind::number: {
            const double number = *value.numberValue();
            if (!std::isfinite(number)) {
                throw CodingError(CodingError::Kind::invalidValue, path,
                                  fmt::format("非有限数值 {} 无法编码为 JSON", number));
            }
            if (std::trunc(number) == number && std::fabs(number) <= kExactIntegerLimit) {
                return static_cast<std::int64_t>(number);
            }
            return number;
        }
        case JSONValue::Kind::string:
            return *value.stringValue();
        case JSONValue::Kind::array: {
            auto out = nlohmann::json::array();
            const auto& array = *value.arrayValue();
            const std::size_t length = path.size();
            for (std::size_t i = 0; i < array.size(); ++i) {
                path.append(fmt::format("[{}]", i));
                out.push_back(toJSON(array[i], path));
                path.resize(length);
            }
            return out;
        }
        case JSONValue::Kind::object: {
            auto out = nlohmann::json::object();
            const std::size_t length = path.size();
            for (const auto& [key, member] : *value.objectValue()) {
                if (!path.empty()) path.push_back('.');
                path.append(key);
                out[key] = toJSON(member, path);
                path.resize(length);
            }
            return out;
        }
        case JSONValue::Kind::null:
            return nullptr;
    }
    return nullptr;
}

}  // namespace

JSONValue JSONValue::parse(std::string_view text) {
    Builder builder;
    DepthLimitedSax<Builder> limited(builder);
    if (!nlohmann::json::sax_parse(text.begin(), text.end(), &limited)) {
        throw CodingError(CodingError::Kind::dataCorrupted, {},
                          limited.tooDeep() ? fmt::format("{}：嵌套超过 {} 层", kNotJSONValue,
                                                          maximumDepth)
                                            : builder.failure());
    }
    return builder.takeResult();
}

std::string JSONValue::serialized(InvalidText invalidText) const {
    std::string path;
    const nlohmann::json tree = toJSON(*this, path);
    try {
        return tree.dump(-1, ' ', false,
                         invalidText == InvalidText::replace
                             ? nlohmann::json::error_handler_t::replace
                             : nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception& error) {
        throw CodingError(CodingError::Kind::invalidValue, {},
                          fmt::format("字符串不是合法的 UTF-8：{}", error.what()));
    }
}

const JSONValue* JSONValue::find(std::string_view key) const {
    const auto* members = objectValue();
    if (!members) return nullptr;
    const auto found = members->find(key);
    return found == members->end() ? nullptr : &found->second;
}

std::string_view toString(JSONValue::Kind kind) {
    switch (kind) {
        case JSONValue::Kind::boolean:
            return "boolean";
        case JSONValue::Kind::number:
            return "number";
        case JSONValue::Kind::string:
            return "string";
        case JSONValue::Kind::array:
            return "array";
        case JSONValue::Kind::object:
            return "object";
        case JSONValue::Kind::null:
            return "null";
    }
    return "unknown";
}

}  // namespace larkspin
