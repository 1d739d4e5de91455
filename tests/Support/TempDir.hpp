#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace larkspin::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

    // Writes `bytes` to `name` inside the folder and returns its path.
    std::filesystem::path write(std::string_view name, std::string_view bytes) const;

private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);

// Gives `path` itself (not what a link leads to) a modification time `age`
// ago; throws when it cannot.
void setModifiedAgo(const std::filesystem::path& path, std::chrono::seconds age);

}  // namespace larkspin::test
