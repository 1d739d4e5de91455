#include "Platform/Text/ErrorText.hpp"

#include <fmt/format.h>
#include <glib.h>

namespace larkspin::ErrorText {

namespace {
bool isErrno(std::error_code error) {
    return error.category() == std::generic_category() ||
           error.category() == std::system_category();
}
}  // namespace

std::string domain(std::error_code error) {
    return isErrno(error) ? std::string("POSIX") : std::string(error.category().name());
}

std::string domainAndCode(std::error_code error) {
    return fmt::format("{} {}", domain(error), error.value());
}

std::string describe(std::error_code error) {
    const std::string message = isErrno(error) ? g_strerror(error.value()) : error.message();
    return fmt::format("{}: {}", domainAndCode(error), message);
}

std::string describe(const std::exception_ptr& error, std::string_view fallback) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return std::string(fallback);
}

}  // namespace larkspin::ErrorText
