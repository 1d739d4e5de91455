#include "Window/DocumentMode.hpp"

namespace larkspin {

std::string_view rawValue(DocumentMode mode) {
    return mode == DocumentMode::editing ? "editing" : "reading";
}

std::optional<DocumentMode> documentModeFromRaw(std::string_view raw) {
    if (raw == "reading") return DocumentMode::reading;
    if (raw == "editing") return DocumentMode::editing;
    return std::nullopt;
}

}  // namespace larkspin
