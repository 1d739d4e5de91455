#pragma once

#include <filesystem>

namespace larkspin::test {

// Makes the calling thread the main thread and points XDG_* and HOME into a
// fresh private folder, so that no test touches the user's configuration or
// data; marks the process as a test host. Returns the folder, which the main
// removes at the end.
std::filesystem::path prepareTestEnvironment();

}  // namespace larkspin::test
