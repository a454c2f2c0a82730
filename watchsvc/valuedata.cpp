#include "valuedata.h"

namespace watchsvc {

DecodedValue DecodeValue(std::uint32_t type, const unsigned char* data, std::size_t size) {
    DecodedValue v;
    if (!data) size = 0;
    switch (type) {
    case kTypeString:
    case kTypeExpandString:
    case kTypeMultiString: {
        std::size_t n = 0;
        while (n < size && data[n] != 0) ++n;
        v.kind = DecodedValue::Text;
        v.text.assign(reinterpret_cast<const char*>(data), n);
        break;
    }
    case kTypeNumber:
        if (size < 4) {
            v.kind = DecodedValue::Invalid;
        } else {
            v.kind = DecodedValue::Number;
            v.number = std::int32_t(std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                                    std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24);
        }
        break;
    default:
        break;
    }
    return v;
}

}  // namespace watchsvc
