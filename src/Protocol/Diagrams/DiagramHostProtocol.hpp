#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Json/JSONValue.hpp"
#include "Protocol/Envelope/BridgeEnvelope.hpp"
#include "Protocol/Payloads/DiagramResultPayload.hpp"

// The contract between the program and the diagram host page
// ("app-resource://renderer/diagram-host.html"): the page posts {type:
// "ready"} (and, for page-level problems, {type: "error", payload}) to the
// script message handler "orvikDiagramHost", and answers each "renderDiagram"
// envelope passed to window.OrvikDiagramHost.handleMessage with a
// "diagramRendered" or "error" envelope.
namespace larkspin {

// The payload of "renderDiagram".
struct DiagramHostRequest {
    std::string diagramID;
    std::string source;
    JSONValue themeVariables;  // passed on unchanged from the reading page
    std::int64_t timeoutMs = 0;

    bool operator==(const DiagramHostRequest&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("diagramID", self.diagramID);
        coder.field("source", self.source);
        coder.field("themeVariables", self.themeVariables);
        coder.field("timeoutMs", self.timeoutMs);
    }
};

// The payload of "diagramRendered".
struct DiagramHostResponse {
    std::string diagramID;  // echoed by the page; the service does not use it
    std::optional<std::string> svg;
    std::optional<DiagramResultError> error;
    std::optional<std::string> diagramType;  // logged only
    std::optional<double> renderMs;          // logged only

    bool operator==(const DiagramHostResponse&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("diagramID", self.diagramID);
        coder.field("svg", self.svg);
        coder.field("error", self.error);
        coder.field("diagramType", self.diagramType);
        coder.field("renderMs", self.renderMs);
    }
};

namespace DiagramHostProtocol {

inline constexpr std::string_view hostURL = "app-resource://renderer/diagram-host.html";
inline constexpr std::string_view handlerName = "orvikDiagramHost";
inline constexpr std::string_view requestType = "renderDiagram";
inline constexpr std::string_view replyType = "diagramRendered";
// The code of an "error" reply from a page still drawing an earlier diagram
// that overran the page's own watchdog: the request was not looked at.
inline constexpr std::string_view busyCode = "busy";
// The body of every page call; the envelope is JSON text in the argument
// "message", as the reader bridge sends it.
inline constexpr const char* callBody =
    "return window.OrvikDiagramHost.handleMessage(JSON.parse(message));";

// The request envelope: protocol version 1, a fresh message identifier,
// empty session and document, revisions 0, type "renderDiagram". Throws
// CodingError when the request cannot be encoded.
BridgeEnvelope requestEnvelope(const DiagramHostRequest& request);

// The page's reply to the request whose message identifier is `messageID`:
// `replyJSON` is the returned value as JSON text, none when the page returned
// nothing or something that is not an object. Throws DiagramHostError
// (invalidResponse: "返回值不是 JSON 对象", "messageID 不匹配", "类型 …"),
// BridgeError::remote for an "error" reply, and CodingError for a reply or
// payload that does not decode.
DiagramHostResponse readReply(std::string_view messageID,
                              const std::optional<std::string>& replyJSON);

// What a message posted to "orvikDiagramHost" says.
struct HostMessage {
    enum class Kind { ignored, ready, error };
    Kind kind = Kind::ignored;
    // For an error: the payload's JSON text when it is an object, else none.
    std::optional<std::string> errorPayload;
};
HostMessage readHostMessage(const std::optional<std::string>& bodyJSON);

// Whether the host's web view may navigate to `url`: only addresses of the
// scheme "app-resource" with the host "renderer" (either in any letter case).
bool allowsNavigation(const std::optional<std::string>& url);

}  // namespace DiagramHostProtocol

}  // namespace larkspin
