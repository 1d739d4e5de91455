#pragma once

#include <optional>
#include <string>

// The native answer "diagramResult" to a diagram request.
namespace larkspin {

// Why a diagram could not be rendered: "unavailable", "timeout", "render", or
// a code given by the renderer.
struct DiagramResultError {
    std::string code;
    std::string message;

    bool operator==(const DiagramResultError&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("code", self.code);
        coder.field("message", self.message);
    }
};

// A success carries "svg" and no "error"; a failure the opposite.
struct DiagramResultPayload {
    std::string diagramID;
    std::optional<std::string> svg;
    std::optional<DiagramResultError> error;

    static DiagramResultPayload failure(std::string diagramID, std::string code,
                                        std::string message) {
        return {std::move(diagramID), std::nullopt,
                DiagramResultError{std::move(code), std::move(message)}};
    }

    bool operator==(const DiagramResultPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("diagramID", self.diagramID);
        coder.field("svg", self.svg);
        coder.field("error", self.error);
    }
};

}  // namespace larkspin
