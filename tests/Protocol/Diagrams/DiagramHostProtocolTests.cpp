// The host page contract: the request envelope, how a reply is read (every
// way it can be unusable), what the page's posted messages mean, and where
// the host's web view may navigate.

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "Platform/Json/CodingError.hpp"
#include "Protocol/Envelope/BridgeError.hpp"
#include "Protocol/Diagrams/DiagramHostError.hpp"
#include "Protocol/Diagrams/DiagramHostProtocol.hpp"

namespace larkspin {
namespace {

namespace P = DiagramHostProtocol;

TEST(DiagramHostProtocol, RequestEnvelopeCarriesTheRequestUnderAFreshMessageID) {
    const JSONValue themed = JSONValue::object({{"primaryColor", JSONValue::string("#112233")},
                                                {"lineColor", JSONValue()}});
    for (const JSONValue& themeVariables : {JSONValue(), themed}) {
        const DiagramHostRequest request{"D1-2", "graph TD; A-->B", themeVariables, 8000};
        const BridgeEnvelope envelope = P::requestEnvelope(request);
        EXPECT_EQ(envelope.jsonValue(),
                  JSONValue::parse(R"({"protocolVersion":1,"messageID":")" + envelope.messageID +
                                   R"(","viewSessionID":"","documentID":"","sourceRevision":0,
                      "renderGeneration":0,"type":"renderDiagram","payload":{"diagramID":"D1-2",
                      "source":"graph TD; A-->B","timeoutMs":8000,"themeVariables":)" +
                                   themeVariables.serialized() + "}}"));
        EXPECT_TRUE(std::regex_match(envelope.messageID,
                                     std::regex("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")));
        EXPECT_NE(P::requestEnvelope(request).messageID, envelope.messageID);
    }
}

std::string reply(const std::string& type, const std::string& payload,
                  const std::string& messageID = "M-1", const std::string& omit = "") {
    std::vector<std::pair<std::string, std::string>> keys = {
        {"protocolVersion", "1"},        {"messageID", "\"" + messageID + "\""},
        {"viewSessionID", "\"\""},       {"documentID", "\"\""},
        {"sourceRevision", "0"},         {"renderGeneration", "5.0"},
        {"type", "\"" + type + "\""},    {"payload", payload},
    };
    std::string text = "{";
    for (const auto& [key, value] : keys) {
        if (key == omit) continue;
        if (text.size() > 1) text += ",";
        text += "\"" + key + "\":" + value;
    }
    return text + "}";
}

TEST(DiagramHostProtocol, ReadsAUsableReply) {
    const auto response = P::readReply(
        "M-1", reply("diagramRendered",
                     R"({"diagramID":"other","svg":"<svg/>","diagramType":"flowchart-v2",)"
                     R"("renderMs":12.5,"error":null})"));
    EXPECT_EQ(response, (DiagramHostResponse{"other", "<svg/>", std::nullopt, "flowchart-v2", 12.5}));

    const auto failed = P::readReply(
        "M-1", reply("diagramRendered", R"({"diagramID":"D1","error":{"code":"parse","message":"line 2"}})"));
    EXPECT_EQ(failed.error, (DiagramResultError{"parse", "line 2"}));
    EXPECT_FALSE(failed.svg);
}

TEST(DiagramHostProtocol, RefusesEveryUnusableReply) {
    enum class Thrown { hostError, bridgeError, codingError };
    struct Case {
        std::string name;
        std::optional<std::string> json;
        Thrown thrown;
        std::string description;  // of a DiagramHostError or BridgeError
    };
    const std::vector<Case> cases = {
        {"nothing returned", std::nullopt, Thrown::hostError, "宿主响应不合法：返回值不是 JSON 对象"},
        {"an array", "[1,2]", Thrown::hostError, "宿主响应不合法：返回值不是 JSON 对象"},
        {"another messageID", reply("diagramRendered", R"({"diagramID":"D1"})", "M-2"),
         Thrown::hostError, "宿主响应不合法：messageID 不匹配"},
        {"an unexpected type", reply("rendered", "{}"), Thrown::hostError,
         "宿主响应不合法：类型 rendered"},
        {"an error reply", reply("error", R"({"code":"badRequest","message":"no source"})"),
         Thrown::bridgeError, "JS 端错误 badRequest：no source"},
        {"no renderGeneration", reply("diagramRendered", R"({"diagramID":"D1"})", "M-1", "renderGeneration"),
         Thrown::codingError, ""},
        {"a payload without diagramID", reply("diagramRendered", R"({"svg":"<svg/>"})"),
         Thrown::codingError, ""},
        {"an error without message", reply("diagramRendered", R"({"diagramID":"D1","error":{"code":"x"}})"),
         Thrown::codingError, ""},
        {"svg not a text", reply("diagramRendered", R"({"diagramID":"D1","svg":5})"),
         Thrown::codingError, ""},
        {"an error reply of the wrong shape", reply("error", R"({"code":1})"), Thrown::codingError, ""},
        {"not JSON", "{\"protocolVersion\":", Thrown::codingError, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            P::readReply("M-1", c.json);
            ADD_FAILURE() << "accepted";
        } catch (const DiagramHostError& error) {
            EXPECT_EQ(c.thrown, Thrown::hostError);
            EXPECT_EQ(error.description(), c.description);
        } catch (const BridgeError& error) {
            EXPECT_EQ(c.thrown, Thrown::bridgeError);
            EXPECT_EQ(error.description(), c.description);
        } catch (const CodingError&) {
            EXPECT_EQ(c.thrown, Thrown::codingError);
        }
    }
}

TEST(DiagramHostProtocol, PostedMessages) {
    using Kind = P::HostMessage::Kind;
    const std::vector<std::tuple<std::optional<std::string>, Kind, std::optional<std::string>>> cases = {
        {R"({"type":"ready"})", Kind::ready, std::nullopt},
        {R"({"type":"error","payload":{"code":"cspViolation","message":"script-src"}})", Kind::error,
         R"({"code":"cspViolation","message":"script-src"})"},
        {R"({"type":"error","payload":"text"})", Kind::error, std::nullopt},
        {R"({"type":"error"})", Kind::error, std::nullopt},
        {R"({"type":"Ready"})", Kind::ignored, std::nullopt},
        {R"({"type":5})", Kind::ignored, std::nullopt},
        {R"(["ready"])", Kind::ignored, std::nullopt},
        {R"("ready")", Kind::ignored, std::nullopt},
        {"not json", Kind::ignored, std::nullopt},
        {std::nullopt, Kind::ignored, std::nullopt},
    };
    for (const auto& [body, kind, payload] : cases) {
        SCOPED_TRACE(body.value_or("<none>"));
        const auto message = P::readHostMessage(body);
        EXPECT_EQ(message.kind, kind);
        EXPECT_EQ(message.errorPayload, payload);
    }
}

TEST(DiagramHostProtocol, NavigationStaysOnTheRendererHost) {
    const std::vector<std::pair<std::optional<std::string>, bool>> cases = {
        {"app-resource://renderer/diagram-host.html", true},
        {"APP-RESOURCE://RENDERER/diagram-host.html", true},
        {"app-resource://renderer/index.html", true},
        {"app-resource://other/diagram-host.html", false},
        {"app-resource:renderer/diagram-host.html", false},
        {"document-resource://renderer/diagram-host.html", false},
        {"https://renderer/diagram-host.html", false},
        {"javascript:alert(1)", false},
        {"about:blank", false},
        {"", false},
        {std::nullopt, false},
    };
    for (const auto& [url, allowed] : cases) {
        EXPECT_EQ(P::allowsNavigation(url), allowed) << url.value_or("<none>");
    }
}

}  // namespace
}  // namespace larkspin
