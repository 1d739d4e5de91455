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

bool isCanonicalUUID(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

}  // namespace larkspin
