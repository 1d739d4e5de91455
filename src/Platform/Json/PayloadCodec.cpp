#include "Platform/Json/PayloadCodec.hpp"

#include <fmt/format.h>

#include <cmath>

namespace larkspin::codec_detail {

namespace {

std::string_view kindName(JSONValue::Kind kind) {
    switch (kind) {
        case JSONValue::Kind::boolean:
            return "布尔值";
        case JSONValue::Kind::number:
            return "数值";
        case JSONValue::Kind::string:
            return "字符串";
        case JSONValue::Kind::array:
            return "数组";
        case JSONValue::Kind::object:
            return "对象";
        case JSONValue::Kind::null:
            return "null";
    }
    return "?";
}

// 2^63: the first double above the signed 64-bit range (−2^63 is inside it).
constexpr double kInt64Bound = 9223372036854775808.0;

}  // namespace

PathScope::PathScope(std::string& path, std::string_view key) : path_(path), length_(path.size()) {
    if (!path_.empty()) path_.push_back('.');
    path_.append(key);
}

PathScope::PathScope(std::string& path, std::size_t index) : path_(path), length_(path.size()) {
    path_.append(fmt::format("[{}]", index));
}

void throwKeyNotFound(const std::string& path, std::string_view key) {
    throw CodingError(CodingError::Kind::keyNotFound, path, fmt::format("缺少键 \"{}\"", key));
}

void throwValueNotFound(const std::string& path) {
    throw CodingError(CodingError::Kind::valueNotFound, path, "值为 null");
}

void throwTypeMismatch(const std::string& path, std::string_view expected,
                       const JSONValue& actual) {
    throw CodingError(CodingError::Kind::typeMismatch, path,
                      fmt::format("类型不符：期望{}，实际为{}", expected, kindName(actual.kind())));
}

void throwUnknownRawValue(const std::string& path, std::string_view text,
                          std::string_view allowed) {
    throw CodingError(CodingError::Kind::dataCorrupted, path,
                      fmt::format("\"{}\" 不是合法的取值（{}）", text, allowed));
}

JSONValue encodeNumber(double value, const std::string& path) {
    if (!std::isfinite(value)) {
        throw CodingError(CodingError::Kind::invalidValue, path,
                          fmt::format("非有限数值 {} 无法编码为 JSON", value));
    }
    return JSONValue::number(value);
}

void requireEncodable(const JSONValue& value, std::string& path) {
    switch (value.kind()) {
        case JSONValue::Kind::number:
            encodeNumber(*value.numberValue(), path);
            break;
        case JSONValue::Kind::array: {
            const auto& array = *value.arrayValue();
            for (std::size_t i = 0; i < array.size(); ++i) {
                PathScope scope(path, i);
                requireEncodable(array[i], path);
            }
            break;
        }
        case JSONValue::Kind::object:
            for (const auto& [key, member] : *value.objectValue()) {
                PathScope scope(path, key);
                requireEncodable(member, path);
            }
            break;
        default:
            break;
    }
}

std::int64_t decodeInteger(const JSONValue& value, const std::string& path) {
    const double* number = value.numberValue();
    if (!number) throwTypeMismatch(path, "整数", value);
    const double d = *number;
    if (!std::isfinite(d) || std::trunc(d) != d || d < -kInt64Bound || d >= kInt64Bound) {
        throw CodingError(CodingError::Kind::dataCorrupted, path,
                          fmt::format("数值 {} 不是 64 位整数", d));
    }
    return static_cast<std::int64_t>(d);
}

double decodeNumber(const JSONValue& value, const std::string& path) {
    const double* number = value.numberValue();
    if (!number) throwTypeMismatch(path, "数值", value);
    if (!std::isfinite(*number)) {
        throw CodingError(CodingError::Kind::dataCorrupted, path,
                          fmt::format("非有限数值 {}", *number));
    }
    return *number;
}

}  // namespace larkspin::codec_detail
