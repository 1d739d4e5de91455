#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Model/DiskVersion.hpp"

namespace larkspin {

// What a document hands the file store.
struct SaveRequest {
    std::filesystem::path url;  // the destination
    std::string data;           // the bytes, already encoded by the caller
    // The file state the caller believes is on disk; without one no conflict
    // test is made.
    std::optional<DiskVersion> expectedDiskVersion;
    // The model's source revision of the saved snapshot; carried, never read.
    std::int64_t revision = 0;
};

}  // namespace larkspin
