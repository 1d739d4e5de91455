#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "Platform/Json/CodingError.hpp"
#include "Platform/Json/JSONValue.hpp"
#include "Platform/Json/RawValue.hpp"

// The one codec of every message payload (and of the envelope itself).
//
// A record type lists its fields once, in a static member template
//
//     template <typename Self, typename Coder>
//     static void codingFields(Self& self, Coder& coder) {
//         coder.field("level", self.level);
//         coder.field("text", self.text);
//     }
//
// and the codec applies the protocol's rules to it:
// - a record is a JSON object whose keys are the field names; unknown keys are
//   ignored and key order carries no meaning;
// - a std::optional field is left out when empty; a missing key or null
//   decodes as empty;
// - any other field is required: missing → keyNotFound, null → valueNotFound
//   (a JSONValue field only needs its key and takes null as a value);
// - `coder.field(key, member, defaultValue)` makes a missing key or null
//   decode as the default;
// - std::int64_t is an integer: any whole JSON number within 64 bits (5 and
//   5.0, not 5.5, not 2^63); double takes any number; bool only true/false;
//   std::string only strings; an enumeration with a RawValueTable only one of
//   its raw strings; std::vector is an array, std::map<std::string, V> an
//   object, and records nest;
// - encoding refuses a non-finite number (CodingError invalidValue).
namespace larkspin {

class PayloadEncoder;
class PayloadDecoder;

// The field list of a record type that belongs to a lower layer and cannot
// carry its own: specialise with the same static member template
// `codingFields(self, coder)`.
template <typename T>
struct PayloadFields {};

template <typename T>
concept PayloadRecord = requires(T& value, const T& constant, PayloadEncoder& encoder,
                                 PayloadDecoder& decoder) {
    T::codingFields(constant, encoder);
    T::codingFields(value, decoder);
}
|| requires(T& value, const T& constant, PayloadEncoder& encoder, PayloadDecoder& decoder) {
    PayloadFields<T>::codingFields(constant, encoder);
    PayloadFields<T>::codingFields(value, decoder);
};

namespace codec_detail {

template <typename T>
inline constexpr bool isOptional = false;
template <typename T>
inline constexpr bool isOptional<std::optional<T>> = true;

template <typename T>
inline constexpr bool isVector = false;
template <typename T>
inline constexpr bool isVector<std::vector<T>> = true;

template <typename T>
inline constexpr bool isStringMap = false;
template <typename T, typename Compare>
inline constexpr bool isStringMap<std::map<std::string, T, Compare>> = true;

template <typename T>
inline constexpr bool unsupported = false;

// Appends ".key" or "[index]" to the coding path for the life of the scope.
class PathScope {
public:
    PathScope(std::string& path, std::string_view key);
    PathScope(std::string& path, std::size_t index);
    ~PathScope() { path_.resize(length_); }
    PathScope(const PathScope&) = delete;
    PathScope& operator=(const PathScope&) = delete;

private:
    std::string& path_;
    std::size_t length_;
};

[[noreturn]] void throwKeyNotFound(const std::string& path, std::string_view key);
[[noreturn]] void throwValueNotFound(const std::string& path);
[[noreturn]] void throwTypeMismatch(const std::string& path, std::string_view expected,
                                    const JSONValue& actual);
[[noreturn]] void throwUnknownRawValue(const std::string& path, std::string_view text,
                                       std::string_view allowed);

JSONValue encodeNumber(double value, const std::string& path);
// Throws invalidValue when the value holds a non-finite number anywhere.
void requireEncodable(const JSONValue& value, std::string& path);
std::int64_t decodeInteger(const JSONValue& value, const std::string& path);
double decodeNumber(const JSONValue& value, const std::string& path);

template <typename V>
JSONValue encodeValue(const V& value, std::string& path);
template <typename V>
void decodeValue(const JSONValue& json, V& out, std::string& path);

template <typename Self, typename Coder>
void listFields(Self& self, Coder& coder) {
    using T = std::remove_const_t<Self>;
    if constexpr (requires { T::codingFields(self, coder); }) {
        T::codingFields(self, coder);
    } else {
        PayloadFields<T>::codingFields(self, coder);
    }
}

template <RawValueEnum E>
std::string allowedRawValues() {
    std::string list;
    for (const auto& entry : RawValueTable<E>::entries) {
        if (!list.empty()) list.append(", ");
        list.append(entry.second);
    }
    return list;
}

}  // namespace codec_detail

// Writes the fields of one record into a JSON object.
class PayloadEncoder {
public:
    explicit PayloadEncoder(std::string& path) : path_(path) {}

    template <typename V>
    void field(std::string_view key, const V& value) {
        if constexpr (codec_detail::isOptional<V>) {
            if (value) put(key, *value);
        } else {
            put(key, value);
        }
    }
    template <typename V>
    void field(std::string_view key, const V& value, const V& /*defaultValue*/) {
        put(key, value);
    }

    JSONValue::Object take() { return std::move(object_); }

private:
    template <typename V>
    void put(std::string_view key, const V& value) {
        codec_detail::PathScope scope(path_, key);
        object_.insert_or_assign(std::string(key), codec_detail::encodeValue(value, path_));
    }

    std::string& path_;
    JSONValue::Object object_;
};

// Reads the fields of one record out of a JSON object.
class PayloadDecoder {
public:
    PayloadDecoder(const JSONValue::Object& object, std::string& path)
        : object_(object), path_(path) {}

    template <typename V>
    void field(std::string_view key, V& out) {
        const auto found = object_.find(key);
        const JSONValue* member = found == object_.end() ? nullptr : &found->second;
        if constexpr (codec_detail::isOptional<V>) {
            if (!member || member->isNull()) {
                out.reset();
                return;
            }
            codec_detail::PathScope scope(path_, key);
            typename V::value_type value{};
            codec_detail::decodeValue(*member, value, path_);
            out = std::move(value);
        } else {
            if (!member) codec_detail::throwKeyNotFound(path_, key);
            codec_detail::PathScope scope(path_, key);
            codec_detail::decodeValue(*member, out, path_);
        }
    }
    template <typename V>
    void field(std::string_view key, V& out, const V& defaultValue) {
        const auto found = object_.find(key);
        if (found == object_.end() || found->second.isNull()) {
            out = defaultValue;
            return;
        }
        codec_detail::PathScope scope(path_, key);
        codec_detail::decodeValue(found->second, out, path_);
    }

private:
    const JSONValue::Object& object_;
    std::string& path_;
};

struct PayloadCodec {
    // The JSON form of a value (a record gives an object). Throws CodingError.
    template <typename T>
    static JSONValue encode(const T& value) {
        std::string path;
        return codec_detail::encodeValue(value, path);
    }

    // Reads a value from its JSON form by the rules above. Throws CodingError.
    template <typename T>
    static T decode(const JSONValue& json) {
        std::string path;
        T out{};
        codec_detail::decodeValue(json, out, path);
        return out;
    }
};

namespace codec_detail {

template <typename V>
JSONValue encodeValue(const V& value, std::string& path) {
    if constexpr (std::same_as<V, bool>) {
        return JSONValue::boolean(value);
    } else if constexpr (std::same_as<V, std::int64_t>) {
        return JSONValue::number(static_cast<double>(value));
    } else if constexpr (std::same_as<V, double>) {
        return encodeNumber(value, path);
    } else if constexpr (std::same_as<V, std::string>) {
        return JSONValue::string(value);
    } else if constexpr (std::same_as<V, JSONValue>) {
        requireEncodable(value, path);
        return value;
    } else if constexpr (RawValueEnum<V>) {
        return JSONValue::string(std::string(rawValue(value)));
    } else if constexpr (isVector<V>) {
        JSONValue::Array array;
        array.reserve(value.size());
        for (std::size_t i = 0; i < value.size(); ++i) {
            PathScope scope(path, i);
            array.push_back(encodeValue(value[i], path));
        }
        return JSONValue::array(std::move(array));
    } else if constexpr (isStringMap<V>) {
        JSONValue::Object object;
        for (const auto& [key, member] : value) {
            PathScope scope(path, key);
            object.insert_or_assign(key, encodeValue(member, path));
        }
        return JSONValue::object(std::move(object));
    } else if constexpr (PayloadRecord<V>) {
        PayloadEncoder encoder(path);
        listFields(value, encoder);
        return JSONValue::object(encoder.take());
    } else {
        static_assert(unsupported<V>, "this type has no JSON form in the payload codec");
    }
}

template <typename V>
void decodeValue(const JSONValue& json, V& out, std::string& path) {
    if constexpr (std::same_as<V, JSONValue>) {
        out = json;
        return;
    } else {
        if (json.isNull()) throwValueNotFound(path);
        if constexpr (std::same_as<V, bool>) {
            if (const bool* value = json.boolValue()) {
                out = *value;
            } else {
                throwTypeMismatch(path, "布尔值", json);
            }
        } else if constexpr (std::same_as<V, std::int64_t>) {
            out = decodeInteger(json, path);
        } else if constexpr (std::same_as<V, double>) {
            out = decodeNumber(json, path);
        } else if constexpr (std::same_as<V, std::string>) {
            if (const std::string* value = json.stringValue()) {
                out = *value;
            } else {
                throwTypeMismatch(path, "字符串", json);
            }
        } else if constexpr (RawValueEnum<V>) {
            const std::string* text = json.stringValue();
            if (!text) throwTypeMismatch(path, "字符串", json);
            const auto value = fromRawValue<V>(*text);
            if (!value) throwUnknownRawValue(path, *text, allowedRawValues<V>());
            out = *value;
        } else if constexpr (isVector<V>) {
            const JSONValue::Array* array = json.arrayValue();
            if (!array) throwTypeMismatch(path, "数组", json);
            V values;
            values.resize(array->size());
            for (std::size_t i = 0; i < array->size(); ++i) {
                PathScope scope(path, i);
                decodeValue((*array)[i], values[i], path);
            }
            out = std::move(values);
        } else if constexpr (isStringMap<V>) {
            const JSONValue::Object* object = json.objectValue();
            if (!object) throwTypeMismatch(path, "对象", json);
            V values;
            for (const auto& [key, member] : *object) {
                PathScope scope(path, key);
                decodeValue(member, values[key], path);
            }
            out = std::move(values);
        } else if constexpr (PayloadRecord<V>) {
            const JSONValue::Object* object = json.objectValue();
            if (!object) throwTypeMismatch(path, "对象", json);
            PayloadDecoder decoder(*object, path);
            listFields(out, decoder);
        } else {
            static_assert(unsupported<V>, "this type has no JSON form in the payload codec");
        }
    }
}

}  // namespace codec_detail
}  // namespace larkspin
