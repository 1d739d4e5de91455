#include "Platform/Json/CodingError.hpp"

namespace larkspin {

namespace {
std::string describe(std::string_view path, std::string_view message) {
    if (path.empty()) return std::string(message);
    std::string text;
    text.reserve(path.size() + message.size() + 4);
    text.append(path).append("：").append(message);
    return text;
}
}  // namespace

CodingError::CodingError(Kind kind, std::string codingPath, std::string message)
    : std::runtime_error(describe(codingPath, message)),
      kind_(kind),
      codingPath_(std::move(codingPath)),
      message_(std::move(message)) {}

std::string_view toString(CodingError::Kind kind) {
    switch (kind) {
        case CodingError::Kind::keyNotFound:
            return "keyNotFound";
        case CodingError::Kind::valueNotFound:
            return "valueNotFound";
        case CodingError::Kind::typeMismatch:
            return "typeMismatch";
        case CodingError::Kind::dataCorrupted:
            return "dataCorrupted";
        case CodingError::Kind::invalidValue:
            return "invalidValue";
    }
    return "unknown";
}

}  // namespace larkspin
