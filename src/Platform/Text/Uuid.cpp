#include "Platform/Text/Uuid.hpp"

#include <glib.h>

#include <algorithm>
#include <cctype>

namespace larkspin {

std::string makeUUID() {
    gchar* raw = g_uuid_string_random();
    std::string text(raw);
    g_free(raw);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace larkspin
