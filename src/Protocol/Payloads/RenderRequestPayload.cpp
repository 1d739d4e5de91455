#include "Protocol/Payloads/RenderRequestPayload.hpp"

#include "Platform/Log.hpp"
#include "Platform/Json/CodingError.hpp"
#include "Platform/Json/PayloadCodec.hpp"

namespace larkspin {

JSONValue RenderRequestPayload::jsonValue() const {
    JSONValue::Object object;
    object.emplace("source", JSONValue::string(source ? *source : std::string()));
    object.emplace("language", JSONValue::string(language));
    if (enhancements) object.emplace("enhancements", PayloadCodec::encode(*enhancements));
    if (background) object.emplace("background", JSONValue::boolean(true));
    if (scrollToSourceLine) {
        JSONValue::Object scroll;
        scroll.emplace("line", JSONValue::number(static_cast<double>(*scrollToSourceLine)));
        object.emplace("scrollToSource", JSONValue::object(std::move(scroll)));
    }
    if (restoreAnchor) {
        try {
            object.emplace("restoreAnchor", restoreAnchor->jsonValue());
        } catch (const CodingError& error) {
            AppLog::bridge.error("restoreAnchor 无法转成 JSON，本次渲染不带阅读位置：%{private}s",
                                 error.what());
        }
    }
    return JSONValue::object(std::move(object));
}

}  // namespace larkspin
