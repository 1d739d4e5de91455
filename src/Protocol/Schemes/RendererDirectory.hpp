#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace larkspin {

// Finds the renderer page's directory "dist", which the program serves and
// does not contain.
namespace RendererDirectory {

// The environment variable that names the directory outright.
inline constexpr const char* overrideVariable = "LARKSPIN_RENDERER_DIST";

// Where to look, in order: the override (when set and not empty); the
// installed layout beside the executable's prefix (<exe>/../share/larkspin/dist);
// then "renderer/dist" in the executable's folder and up to four folders above
// it, which finds the renderer built in the source tree (renderer/dist) from
// an executable anywhere in a build folder inside it.
std::vector<std::filesystem::path> candidates(const std::optional<std::string>& override,
                                              const std::filesystem::path& executable);

// The first candidate that is a directory, for this process (the override
// from the environment, the executable from /proc/self/exe); none when there
// is none.
std::optional<std::filesystem::path> locate();

}  // namespace RendererDirectory

}  // namespace larkspin
