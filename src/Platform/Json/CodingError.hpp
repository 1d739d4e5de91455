#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace larkspin {

// Why a value could not be encoded to JSON or decoded from it. Thrown by
// JSONValue, the payload codec and the envelope; `what()` is the description
// that the transport logs (privately) and carries in its errors.
class CodingError : public std::runtime_error {
public:
    enum class Kind {
        keyNotFound,    // a required key is missing
        valueNotFound,  // a required key holds null
        typeMismatch,   // a value of another JSON kind
        dataCorrupted,  // the right kind, but not a valid value (5.5 for an integer, an unknown
                        // enumeration string, text that is not JSON)
        invalidValue,   // encoding: a value that JSON cannot carry (a non-finite number, text
                        // that is not UTF-8)
    };

    // `codingPath` names where the fault sits ("blocks[2].depth"); empty at the top.
    CodingError(Kind kind, std::string codingPath, std::string message);

    Kind kind() const { return kind_; }
    const std::string& codingPath() const { return codingPath_; }
    const std::string& message() const { return message_; }

private:
    Kind kind_;
    std::string codingPath_;
    std::string message_;
};

std::string_view toString(CodingError::Kind kind);

}  // namespace larkspin
