#pragma once

#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "Platform/Json/CodingError.hpp"
#include "Platform/Json/JSONValue.hpp"
#include "Protocol/Navigation/NavigationPolicy.hpp"

// Readable failure output for the reader's value types.
namespace larkspin {

inline void PrintTo(const JSONValue& value, std::ostream* out) {
    try {
        *out << value.serialized();
    } catch (const CodingError& error) {
        *out << "<" << error.what() << ">";
    }
}

inline JSONValue json(std::string_view text) {
    return JSONValue::parse(text);
}

inline JSONValue readJSONFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream text;
    text << file.rdbuf();
    return JSONValue::parse(text.str());
}

#ifdef LARKSPIN_RENDERER_SOURCE_DIR
// A file of the reading page's source tree (renderer/), which the page's own
// tests read too.
inline std::filesystem::path rendererSourcePath(std::string_view relative) {
    return std::filesystem::path(LARKSPIN_RENDERER_SOURCE_DIR) / relative;
}
#endif

namespace NavigationPolicy {

inline void PrintTo(const LinkAction& action, std::ostream* out) {
    switch (action.kind) {
        case LinkAction::Kind::openExternal:
            *out << "openExternal(" << action.url << ")";
            break;
        case LinkAction::Kind::openMarkdown:
            *out << "openMarkdown(" << action.file.string() << ", "
                 << action.fragment.value_or("<none>") << ")";
            break;
        case LinkAction::Kind::scrollToFragment:
            *out << "scrollToFragment(" << action.fragment.value_or("<none>") << ")";
            break;
        case LinkAction::Kind::confirmOpenOther:
            *out << "confirmOpenOther(" << action.file.string() << ")";
            break;
        case LinkAction::Kind::reject:
            *out << "reject(" << static_cast<int>(action.rejection.kind) << " "
                 << action.rejection.scheme << ")";
            break;
    }
}

inline void PrintTo(const NavigationDecision& decision, std::ostream* out) {
    *out << (decision.kind == NavigationDecision::Kind::allow ? "allow"
                                                              : "cancel(" + decision.reason + ")");
}

}  // namespace NavigationPolicy
}  // namespace larkspin
