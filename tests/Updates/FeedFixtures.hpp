#pragma once

#include <string>
#include <string_view>

namespace larkspin::test {

// Update feeds as a server would send them.
inline std::string rssDocument(std::string_view items) {
    return std::string(R"(<rss version="2.0" xmlns:u="https://larkspin.corvantel.dev/xmlns/update-feed">
<channel><title>Larkspin</title>
)") + std::string(items) + "</channel></rss>\n";
}

inline std::string feedWith(std::string_view items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + rssDocument(items);
}

inline std::string feedItem(std::string_view version, std::string_view display,
                            std::string_view extra = "") {
    return "<item><title>Larkspin " + std::string(display) + "</title><u:version>" +
           std::string(version) + "</u:version><u:displayVersion>" + std::string(display) +
           "</u:displayVersion><u:downloadLink>https://larkspin.corvantel.dev/download/" +
           std::string(version) + "</u:downloadLink>" + std::string(extra) + "</item>\n";
}

// A thousand-fold nested entity expansion ("billion laughs").
inline std::string entityBombFeed() {
    std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n<!ENTITY a0 \"lol\">\n";
    for (int level = 1; level < 10; ++level) {
        text += "<!ENTITY a" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) text += "&a" + std::to_string(level - 1) + ";";
        text += "\">\n";
    }
    return text + "]>\n<rss version=\"2.0\"><channel><title>&a9;</title></channel></rss>\n";
}

// An external entity that would read `target` if it were resolved.
inline std::string externalEntityFeed(std::string_view target) {
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [<!ENTITY secret SYSTEM \"" + std::string(target) +
           "\">]>\n" + rssDocument(feedItem("9.0", "&secret;"));
}

}  // namespace larkspin::test
