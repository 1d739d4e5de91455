#include "Storage/FileChangeEvent.hpp"

namespace larkspin {

std::string FileChangeEvent::description() const {
    switch (kind) {
        case Kind::write:
            return "write";
        case Kind::extend:
            return "extend";
        case Kind::delete_:
            return "delete";
        case Kind::rename:
            return "rename";
        case Kind::attrib:
            return "attrib";
        case Kind::link:
            return "link";
        case Kind::reopened:
            return "reopened";
        case Kind::reopenFailed:
            return "reopenFailed";
        case Kind::presenterDidChange:
            return "didChange";
        case Kind::presenterDidMove:
            return "didMove(" + url.filename().string() + ")";
        case Kind::presenterDeletion:
            return "deletion";
        case Kind::presenterGainedVersion:
            return "gainedVersion";
        case Kind::presenterLostVersion:
            return "lostVersion";
        case Kind::presenterResolvedConflict:
            return "resolvedConflict";
    }
    return "unknown";
}

}  // namespace larkspin

std::size_t std::hash<larkspin::FileChangeEvent>::operator()(
    const larkspin::FileChangeEvent& event) const noexcept {
    const std::size_t kind = static_cast<std::size_t>(event.kind);
    if (event.kind != larkspin::FileChangeEvent::Kind::presenterDidMove) return kind;
    return kind ^ (std::filesystem::hash_value(event.url) + 0x9e3779b97f4a7c15ULL + (kind << 6));
}
