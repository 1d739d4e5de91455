#pragma once

#include <optional>
#include <string_view>

namespace larkspin {

// Which of its two views a document page shows: the rendered page or the
// Markdown source editor. The raw value names the mode in logs and in the
// mode container's stack.
enum class DocumentMode { reading, editing };

std::string_view rawValue(DocumentMode mode);
// Exactly "reading" or "editing"; anything else gives none.
std::optional<DocumentMode> documentModeFromRaw(std::string_view raw);

}  // namespace larkspin
