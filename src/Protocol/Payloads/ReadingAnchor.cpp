#include "Protocol/Payloads/ReadingAnchor.hpp"

#include "Platform/Json/PayloadCodec.hpp"

namespace larkspin {

JSONValue ReadingAnchor::jsonValue() const {
    return PayloadCodec::encode(*this);
}

}  // namespace larkspin
