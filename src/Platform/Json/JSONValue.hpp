#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "Platform/Json/BoundedJSON.hpp"

namespace larkspin {

// Any JSON value, as the renderer protocol carries it. Every number is a
// double, integral or not, because that is what crosses the page. Objects are
// dictionaries: key order carries no meaning and is not kept.
//
// Text goes through nlohmann-json in both directions: `parse` refuses what is
// not JSON, and `serialized` refuses what JSON cannot carry (a non-finite
// number, a string that is not UTF-8) instead of writing something else.
class JSONValue {
public:
    using Array = std::vector<JSONValue>;
    using Object = std::map<std::string, JSONValue, std::less<>>;

    // In the protocol's order of cases.
    enum class Kind { boolean, number, string, array, object, null };

    // Deepest nesting of arrays and objects that `parse` accepts; deeper text
    // is refused rather than risking the stack in the recursive operations.
    static constexpr std::size_t maximumDepth = maximumJSONDepth;

    JSONValue() = default;  // null
    static JSONValue null() { return JSONValue(); }
    static JSONValue boolean(bool value) { return JSONValue(std::in_place_type<bool>, value); }
    static JSONValue number(double value) { return JSONValue(std::in_place_type<double>, value); }
    static JSONValue string(std::string value) {
        return JSONValue(std::in_place_type<std::string>, std::move(value));
    }
    static JSONValue array(Array value = {}) {
        return JSONValue(std::in_place_type<Array>, std::move(value));
    }
    static JSONValue object(Object value = {}) {
        return JSONValue(std::in_place_type<Object>, std::move(value));
    }

    // Decodes one JSON text (the whole text: trailing content is an error).
    // Throws CodingError (dataCorrupted) for malformed text, invalid UTF-8, a
    // number too large for a double, or nesting beyond `maximumDepth`.
    static JSONValue parse(std::string_view text);

    // What `serialized` does with a string that is not UTF-8.
    enum class InvalidText {
        refuse,   // throws CodingError (invalidValue)
        replace,  // writes U+FFFD for each invalid sequence: for text from the
                  // file system, which may hold any bytes
    };

    // The compact JSON text, keys in byte order. Integral numbers are written
    // without a fraction. Throws CodingError (invalidValue) for a non-finite
    // number, and for a string that is not UTF-8 unless told to replace.
    std::string serialized(InvalidText invalidText = InvalidText::refuse) const;

    Kind kind() const { return static_cast<Kind>(storage_.index()); }
    bool isNull() const { return kind() == Kind::null; }

    // The value when it is of that kind, else nullptr.
    const bool* boolValue() const { return std::get_if<bool>(&storage_); }
    const double* numberValue() const { return std::get_if<double>(&storage_); }
    const std::string* stringValue() const { return std::get_if<std::string>(&storage_); }
    const Array* arrayValue() const { return std::get_if<Array>(&storage_); }
    const Object* objectValue() const { return std::get_if<Object>(&storage_); }
    Array* arrayValue() { return std::get_if<Array>(&storage_); }
    Object* objectValue() { return std::get_if<Object>(&storage_); }

    // The member `key` of an object; nullptr for a missing key or a non-object.
    const JSONValue* find(std::string_view key) const;

    // Same case and equal values; numbers compare as doubles (NaN equals
    // nothing), arrays in order, objects independent of key order.
    bool operator==(const JSONValue&) const = default;

private:
    // The alternatives in the order of Kind.
    using Storage = std::variant<bool, double, std::string, Array, Object, std::nullptr_t>;
    template <typename T, typename Argument>
    JSONValue(std::in_place_type_t<T> type, Argument&& argument)
        : storage_(type, std::forward<Argument>(argument)) {}

    Storage storage_{nullptr};
};

std::string_view toString(JSONValue::Kind kind);

}  // namespace larkspin
