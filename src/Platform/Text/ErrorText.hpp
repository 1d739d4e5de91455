#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <system_error>

namespace larkspin {

// How errors become text where a log line flattens them: a domain, its code,
// and the system's description. errno values (std::generic_category or
// std::system_category) have the domain "POSIX"; other categories use their
// own name.
namespace ErrorText {

// "POSIX", or the category's name.
std::string domain(std::error_code error);

// The domain, one blank and the code in decimal: "POSIX 2".
std::string domainAndCode(std::error_code error);

// domainAndCode, a colon, a blank and the description (g_strerror's text for
// errno values, which GLib gives in UTF-8 and in the user's language):
// "POSIX 2: No such file or directory".
std::string describe(std::error_code error);

// What a caught error says of itself: its what() text, or `fallback` when it
// is not a std::exception.
std::string describe(const std::exception_ptr& error, std::string_view fallback = "unknown error");

// The errno value as a std::generic_category code.
inline std::error_code fromErrno(int value) {
    return {value, std::generic_category()};
}

}  // namespace ErrorText

}  // namespace larkspin
