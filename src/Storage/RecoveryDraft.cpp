#include "Storage/RecoveryDraft.hpp"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "Platform/Text/Base64.hpp"
#include "Platform/Files/FileBookmark.hpp"
#include "Platform/Text/Iso8601.hpp"

namespace larkspin {

namespace {

using nlohmann::json;

// A decoding failure; caught in decode() and turned into its message.
struct DecodeError {
    std::string message;
};

[[noreturn]] void fail(std::string message) {
    throw DecodeError{std::move(message)};
}

std::string where(std::string_view context, std::string_view key) {
    return context.empty() ? std::string(key) : std::string(context) + "." + std::string(key);
}

// The value of `key`, or nothing when it is missing or null.
const json* member(const json& object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

const json& required(const json& object, std::string_view key, std::string_view context) {
    const json* value = member(object, key);
    if (value == nullptr) fail("missing key " + where(context, key));
    return *value;
}

std::string asString(const json& value, std::string_view name) {
    if (!value.is_string()) fail(std::string(name) + " is not a string");
    return value.get<std::string>();
}

// A whole number; also a real without fraction (5.0), as any JSON writer may
// put it. Values beyond 64 bits are refused.
std::int64_t asInteger(const json& value, std::string_view name) {
    if (value.is_number_integer()) {
        if (value.is_number_unsigned() &&
            value.get<std::uint64_t>() >
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            fail(std::string(name) + " does not fit in 64 bits");
        }
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 &&
            d < 9223372036854775808.0) {
            return static_cast<std::int64_t>(d);
        }
    }
    fail(std::string(name) + " is not a whole number");
}

Date asDate(const json& value, std::string_view name) {
    const auto date = Iso8601::parse(asString(value, name));
    if (!date) fail(std::string(name) + " is not an ISO 8601 date");
    return *date;
}

std::string requiredString(const json& object, std::string_view key,
                           std::string_view context = {}) {
    return asString(required(object, key, context), where(context, key));
}
std::int64_t requiredInteger(const json& object, std::string_view key,
                             std::string_view context = {}) {
    return asInteger(required(object, key, context), where(context, key));
}
Date requiredDate(const json& object, std::string_view key, std::string_view context = {}) {
    return asDate(required(object, key, context), where(context, key));
}

const json& requiredObject(const json& value, std::string_view name) {
    if (!value.is_object()) fail(std::string(name) + " is not an object");
    return value;
}

RecoveryDraft::FileIdentity decodeFileIdentity(const json& value) {
    const json& object = requiredObject(value, "fileIdentity");
    RecoveryDraft::FileIdentity identity;
    identity.path = requiredString(object, "path", "fileIdentity");
    if (const json* bookmark = member(object, "bookmark")) {
        auto bytes = Base64::decode(asString(*bookmark, "fileIdentity.bookmark"));
        if (!bytes) fail("fileIdentity.bookmark is not valid Base64");
        identity.bookmark = std::move(*bytes);
    }
    return identity;
}

RecoveryDraft::StoredDiskVersion decodeDiskVersion(const json& value) {
    constexpr std::string_view context = "originalDiskVersion";
    const json& object = requiredObject(value, context);
    RecoveryDraft::StoredDiskVersion version;
    version.resourceIdentifier = requiredString(object, "resourceIdentifier", context);
    version.size = requiredInteger(object, "size", context);
    version.modificationDate = requiredDate(object, "modificationDate", context);
    version.contentDigest = requiredString(object, "contentDigest", context);
    return version;
}

RecoveryDraft decodeDraft(const json& root) {
    const json& object = requiredObject(root, "the draft");
    RecoveryDraft draft;
    draft.schemaVersion = requiredInteger(object, "schemaVersion");
    draft.draftID = requiredString(object, "draftID");
    if (!RecoveryDraft::isValidID(draft.draftID)) fail("draftID is not an upper-case UUID");
    draft.displayName = requiredString(object, "displayName");
    if (const json* identity = member(object, "fileIdentity"))
        draft.fileIdentity = decodeFileIdentity(*identity);
    if (const json* version = member(object, "originalDiskVersion")) {
        draft.originalDiskVersion = decodeDiskVersion(*version);
    }
    draft.encoding = requiredString(object, "encoding");
    draft.lineEnding = requiredString(object, "lineEnding");
    if (const json* content = member(object, "content"))
        draft.content = asString(*content, "content");
    draft.sourceRevision = requiredInteger(object, "sourceRevision");
    draft.createdAt = requiredDate(object, "createdAt");
    draft.updatedAt = requiredDate(object, "updatedAt");
    if (const json* resolvedAt = member(object, "resolvedAt"))
        draft.resolvedAt = asDate(*resolvedAt, "resolvedAt");
    if (const json* resolution = member(object, "resolution")) {
        const auto raw = asString(*resolution, "resolution");
        draft.resolution = recoveryResolutionFromRaw(raw);
        if (!draft.resolution)
            fail("resolution \"" + raw + "\" is not one of saved, discarded, reloaded, closed");
    }
    return draft;
}

}  // namespace

std::string_view rawValue(RecoveryDraft::Resolution resolution) {
    switch (resolution) {
        case RecoveryDraft::Resolution::saved:
            return "saved";
        case RecoveryDraft::Resolution::discarded:
            return "discarded";
        case RecoveryDraft::Resolution::reloaded:
            return "reloaded";
        case RecoveryDraft::Resolution::closed:
            return "closed";
    }
    return "closed";
}

std::optional<RecoveryDraft::Resolution> recoveryResolutionFromRaw(std::string_view raw) {
    using Resolution = RecoveryDraft::Resolution;
    for (auto resolution :
         {Resolution::saved, Resolution::discarded, Resolution::reloaded, Resolution::closed}) {
        if (rawValue(resolution) == raw) return resolution;
    }
    return std::nullopt;
}

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
    // nlohmann's object keeps its keys sorted by byte, which for these ASCII
    // keys is code-point order.
    json object = json::object();
    if (content) object["content"] = *content;
    object["createdAt"] = Iso8601::format(createdAt);
    object["displayName"] = displayName;
    object["draftID"] = draftID;
    object["encoding"] = encoding;
    if (fileIdentity) {
        json identity = json::object();
        if (fileIdentity->bookmark) identity["bookmark"] = Base64::encode(*fileIdentity->bookmark);
        identity["path"] = fileIdentity->path;
        object["fileIdentity"] = std::move(identity);
    }
    object["lineEnding"] = lineEnding;
    if (originalDiskVersion) {
        object["originalDiskVersion"] = json{
            {"contentDigest", originalDiskVersion->contentDigest},
            {"modificationDate", Iso8601::format(originalDiskVersion->modificationDate)},
            {"resourceIdentifier", originalDiskVersion->resourceIdentifier},
            {"size", originalDiskVersion->size},
        };
    }
    if (resolution) object["resolution"] = std::string(rawValue(*resolution));
    if (resolvedAt) object["resolvedAt"] = Iso8601::format(*resolvedAt);
    object["schemaVersion"] = schemaVersion;
    object["sourceRevision"] = sourceRevision;
    object["updatedAt"] = Iso8601::format(updatedAt);

    const std::string compact = object.dump(-1, ' ', false, json::error_handler_t::replace);
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
    json root = json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded()) return std::unexpected("not valid JSON");
    try {
        return decodeDraft(root);
    } catch (const DecodeError& error) {
        return std::unexpected(error.message);
    }
}

}  // namespace larkspin
