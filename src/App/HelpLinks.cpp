#include "App/HelpLinks.hpp"

namespace larkspin::HelpLinks {

std::string_view address(const std::vector<std::string_view>& languageNames) {
    const std::string_view first = languageNames.empty() ? std::string_view() : languageNames.front();
    return first.starts_with("zh") ? faqChinese : faqEnglish;
}

}  // namespace larkspin::HelpLinks
