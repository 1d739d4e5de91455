#include "Storage/RecoveryDraft.hpp"

#include "Platform/Files/FileBookmark.hpp"
#include "Platform/Json/CodingError.hpp"
#include "Platform/Json/JSONValue.hpp"
#include "Platform/Json/PayloadCodec.hpp"
#include "Platform/Text/Base64.hpp"
#include "Platform/Text/Iso8601.hpp"

namespace larkspin {

namespace {

// A draft as its file holds it, for the payload codec: dates as ISO 8601
// texts, the bookmark in Base64. The fields are listed in key order, the
// order of the file.
struct StoredIdentity {
    std::optional<std::string> bookmark;
    std::string path;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("bookmark", self.bookmark);
        coder.field("path", self.path);
    }
};

struct StoredVersion {
    std::string contentDigest;
    std::string modificationDate;
    std::string resourceIdentifier;
    std::int64_t size = 0;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("contentDigest", self.contentDigest);
        coder.field("modificationDate", self.modificationDate);
        coder.field("resourceIdentifier", self.resourceIdentifier);
        coder.field("size", self.size);
    }
};

struct StoredDraft {
    std::optional<std::string> content;
    std::string createdAt;
    std::string displayName;
    std::string draftID;
    std::string encoding;
    std::optional<StoredIdentity> fileIdentity;
    std::string lineEnding;
    std::optional<StoredVersion> originalDiskVersion;
    std::optional<RecoveryDraft::Resolution> resolution;
    std::optional<std::string> resolvedAt;
    std::int64_t schemaVersion = 0;
    std::int64_t sourceRevision = 0;
    std::string updatedAt;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("content", self.content);
        coder.field("createdAt", self.createdAt);
        coder.field("displayName", self.displayName);
        coder.field("draftID", self.draftID);
        coder.field("encoding", self.encoding);
        coder.field("fileIdentity", self.fileIdentity);
        coder.field("lineEnding", self.lineEnding);
        coder.field("originalDiskVersion", self.originalDiskVersion);
        coder.field("resolution", self.resolution);
        coder.field("resolvedAt", self.resolvedAt);
        coder.field("schemaVersion", self.schemaVersion);
        coder.field("sourceRevision", self.sourceRevision);
        coder.field("updatedAt", self.updatedAt);
    }
};

[[noreturn]] void corrupted(std::string path, std::string message) {
    throw CodingError(CodingError::Kind::dataCorrupted, std::move(path), std::move(message));
}

Date dateOf(const std::string& text, std::string path) {
    const auto date = Iso8601::parse(text);
    if (!date)
        corrupted(std::move(path), "不是 ISO 8601 日期（须为整秒 UTC，如 2024-03-05T07:08:09Z）");
    return *date;
}

StoredDraft stored(const RecoveryDraft& draft) {
    StoredDraft out;
    out.content = draft.content;
    out.createdAt = Iso8601::format(draft.createdAt);
    out.displayName = draft.displayName;
    out.draftID = draft.draftID;
    out.encoding = draft.encoding;
    if (const auto& identity = draft.fileIdentity) {
        out.fileIdentity = StoredIdentity{
            identity->bookmark ? std::optional(Base64::encode(*identity->bookmark)) : std::nullopt,
            identity->path};
    }
    out.lineEnding = draft.lineEnding;
    if (const auto& version = draft.originalDiskVersion) {
        out.originalDiskVersion =
            StoredVersion{version->contentDigest, Iso8601::format(version->modificationDate),
                          version->resourceIdentifier, version->size};
    }
    out.resolution = draft.resolution;
    if (draft.resolvedAt) out.resolvedAt = Iso8601::format(*draft.resolvedAt);
    out.schemaVersion = draft.schemaVersion;
    out.sourceRevision = draft.sourceRevision;
    out.updatedAt = Iso8601::format(draft.updatedAt);
    return out;
}

RecoveryDraft draftOf(StoredDraft stored) {
    RecoveryDraft draft;
    draft.schemaVersion = stored.schemaVersion;
    if (!RecoveryDraft::isValidID(stored.draftID)) corrupted("draftID", "不是大写的 UUID");
    draft.draftID = std::move(stored.draftID);
    draft.displayName = std::move(stored.displayName);
    if (auto& identity = stored.fileIdentity) {
        RecoveryDraft::FileIdentity decoded;
        if (identity->bookmark) {
            decoded.bookmark = Base64::decode(*identity->bookmark);
            if (!decoded.bookmark) corrupted("fileIdentity.bookmark", "不是合法的 Base64");
        }
        decoded.path = std::move(identity->path);
        draft.fileIdentity = std::move(decoded);
    }
    if (auto& version = stored.originalDiskVersion) {
        draft.originalDiskVersion = RecoveryDraft::StoredDiskVersion{
            std::move(version->resourceIdentifier), version->size,
            dateOf(version->modificationDate, "originalDiskVersion.modificationDate"),
            std::move(version->contentDigest)};
    }
    draft.encoding = std::move(stored.encoding);
    draft.lineEnding = std::move(stored.lineEnding);
    draft.content = std::move(stored.content);
    draft.sourceRevision = stored.sourceRevision;
    draft.createdAt = dateOf(stored.createdAt, "createdAt");
    draft.updatedAt = dateOf(stored.updatedAt, "updatedAt");
    if (stored.resolvedAt) draft.resolvedAt = dateOf(*stored.resolvedAt, "resolvedAt");
    draft.resolution = stored.resolution;
    return draft;
}

}  // namespace

std::optional<RecoveryDraft::FileIdentity::Location> RecoveryDraft::FileIdentity::resolveURL()
    const {
    if (bookmark) {
        if (auto found = FileBookmark::resolve(*bookmark))
            return Location{std::move(*found), false};
    }
    if (path.empty()) return std::nullopt;
    return Location{std::filesystem::path(path), false};
}

RecoveryDraft::StoredDiskVersion RecoveryDraft::StoredDiskVersion::from(
    const DiskVersion& version) {
    return {version.resourceIdentifier, version.size, version.modificationDate,
            version.contentDigest};
}

DiskVersion RecoveryDraft::StoredDiskVersion::diskVersion() const {
    return {resourceIdentifier, size, modificationDate, contentDigest};
}

bool RecoveryDraft::isValidID(std::string_view id) {
    if (id.size() != 36) return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

std::string RecoveryDraft::shortID(std::string_view id) {
    // Eight characters, not bytes: a foreign file name may be any UTF-8.
    std::size_t end = 0;
    for (int count = 0; count < 8 && end < id.size(); ++count) {
        ++end;
        while (end < id.size() && (static_cast<unsigned char>(id[end]) & 0xC0) == 0x80) ++end;
    }
    return std::string(id.substr(0, end));
}

std::string RecoveryDraft::encoded() const {
    // The codec's object keeps its keys sorted by byte, which for these ASCII
    // keys is code-point order.
    const std::string compact =
        PayloadCodec::encode(stored(*this)).serialized(JSONValue::InvalidText::replace);
    // Outside strings compact JSON has no "/", and no UTF-8 sequence contains
    // the byte, so every "/" here is one inside a string: escape them all.
    std::string out;
    out.reserve(compact.size() + compact.size() / 16);
    for (const char c : compact) {
        if (c == '/') out += '\\';
        out += c;
    }
    return out;
}

std::expected<RecoveryDraft, std::string> RecoveryDraft::decode(std::string_view bytes) {
    try {
        return draftOf(PayloadCodec::decode<StoredDraft>(JSONValue::parse(bytes)));
    } catch (const CodingError& error) {
        return std::unexpected(error.what());
    }
}

}  // namespace larkspin
