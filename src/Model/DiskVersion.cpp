#include "Model/DiskVersion.hpp"

#include <fmt/format.h>

#include <system_error>

#include "Platform/Files/FileReader.hpp"
#include "Platform/Text/Sha256.hpp"

namespace larkspin {

namespace {

// The first `count` characters of `text`, never cutting a UTF-8 sequence.
std::string_view leadingCharacters(std::string_view text, std::size_t count) {
    std::size_t end = 0;
    for (std::size_t seen = 0; end < text.size() && seen < count; ++seen) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    }
    return text.substr(0, end);
}

void appendLittleEndianHex(std::string& out, std::uint64_t value) {
    static constexpr char digits[] = "0123456789abcdef";
    for (int i = 0; i < 8; ++i) {
        const auto byte = static_cast<unsigned>(value >> (8 * i)) & 0xFFu;
        out.push_back(digits[byte >> 4]);
        out.push_back(digits[byte & 0x0Fu]);
    }
}

}  // namespace

std::string DiskVersion::description() const {
    return fmt::format("DiskVersion(id={}\u2026, size={}, sha256={}\u2026)",
                       leadingCharacters(resourceIdentifier, 12), size,
                       leadingCharacters(contentDigest, 12));
}

std::string DiskVersion::digest(std::string_view bytes) {
    return sha256Hex(bytes);
}

std::string DiskVersion::resourceIdentifierOf(const struct stat& status) {
    std::string identifier;
    identifier.reserve(32);
    appendLittleEndianHex(identifier, static_cast<std::uint64_t>(status.st_ino));
    appendLittleEndianHex(identifier, static_cast<std::uint64_t>(status.st_dev));
    return identifier;
}

DiskVersion DiskVersion::fromStatus(const struct stat& status, std::string contentDigest) {
    return DiskVersion{
        .resourceIdentifier = resourceIdentifierOf(status),
        .size = static_cast<std::int64_t>(status.st_size),
        .modificationDate = dateFromTimespec(status.st_mtim),
        .contentDigest = std::move(contentDigest),
    };
}

DiskVersion DiskVersion::read(const std::filesystem::path& path, const SysCalls& sys) {
    auto result = FileReader::read(path, sys);
    if (!result) throw std::system_error(result.error());
    return fromStatus(result->status, std::move(result->contentDigest));
}

}  // namespace larkspin

std::size_t std::hash<larkspin::DiskVersion>::operator()(
    const larkspin::DiskVersion& version) const noexcept {
    std::size_t seed = 0;
    const auto combine = [&seed](std::size_t value) {
        seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    };
    combine(std::hash<std::string>{}(version.resourceIdentifier));
    combine(std::hash<std::int64_t>{}(version.size));
    combine(std::hash<larkspin::Date::rep>{}(version.modificationDate.time_since_epoch().count()));
    combine(std::hash<std::string>{}(version.contentDigest));
    return seed;
}
