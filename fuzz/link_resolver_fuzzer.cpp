// Any link text, of any kind, with or without a document, resolves to a link
// action without crashing, and every action keeps the policy's promises:
// local paths are absolute, standardised and free of NUL and backslash;
// fragments are never empty; a refused scheme is named in lower case. The
// first byte chooses the link kind and the document; the rest is the href.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Platform/Text/Utf8.hpp"
#include "Protocol/Navigation/NavigationPolicy.hpp"

using namespace larkspin;
using namespace larkspin::NavigationPolicy;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

void checkPath(const std::filesystem::path& file) {
    const std::string text = file.string();
    require(!text.empty() && text.front() == '/');
    require(text.find('\0') == std::string::npos && text.find('\\') == std::string::npos);
    require(text == "/" || text.back() != '/');
    require(utf8::isValid(text));
    for (const auto& part : file) require(part != "." && part != "..");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t control = data[0];
    const std::string_view href(reinterpret_cast<const char*>(data + 1), size - 1);

    static const OpenLinkPayload::Kind kinds[] = {
        OpenLinkPayload::Kind::external, OpenLinkPayload::Kind::relative,
        OpenLinkPayload::Kind::fragment, OpenLinkPayload::Kind::file};
    std::optional<std::filesystem::path> document;
    if (control & 4) document = "/home/reader/notes/doc.md";
    if (control & 8) document = "notes/doc.md";

    const OpenLinkPayload link{std::string(href), kinds[control & 3], {}};
    const LinkAction action = resolve(link, document);
    switch (action.kind) {
        case LinkAction::Kind::openExternal:
            require(!action.url.empty());
            break;
        case LinkAction::Kind::openMarkdown:
            checkPath(action.file);
            require(!action.fragment || !action.fragment->empty());
            break;
        case LinkAction::Kind::confirmOpenOther:
            checkPath(action.file);
            break;
        case LinkAction::Kind::scrollToFragment:
            require(action.fragment && !action.fragment->empty());
            break;
        case LinkAction::Kind::reject:
            if (action.rejection.kind == Rejection::Kind::unsupportedScheme) {
                require(!action.rejection.scheme.empty());
                for (const char c : action.rejection.scheme) require(!(c >= 'A' && c <= 'Z'));
            }
            require(!action.rejection.description().empty());
            break;
    }

    (void)fragmentID(href);
    const auto decision = decideNavigation(std::string(href), true, true, NavigationType::other);
    require((decision.kind == NavigationDecision::Kind::allow) == isEntryPage(href));
    return 0;
}
