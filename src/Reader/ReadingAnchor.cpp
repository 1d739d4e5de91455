#include "Reader/ReadingAnchor.hpp"

#include "Reader/PayloadCodec.hpp"

namespace larkspin {

JSONValue ReadingAnchor::jsonValue() const {
    return PayloadCodec::encode(*this);
}

}  // namespace larkspin
