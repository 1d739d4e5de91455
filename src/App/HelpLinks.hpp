#pragma once

#include <string_view>
#include <vector>

namespace larkspin {

// The help (frequently asked questions) page, in its default and Chinese forms.
namespace HelpLinks {

inline constexpr std::string_view faqEnglish = "https://larkspin.corvantel.dev/#faq";
inline constexpr std::string_view faqChinese = "https://larkspin.corvantel.dev/zh/#faq";

// The page for the user's languages, most preferred first (as
// g_get_language_names gives them): Chinese when the first begins with "zh".
std::string_view address(const std::vector<std::string_view>& languageNames);

}  // namespace HelpLinks

}  // namespace larkspin
