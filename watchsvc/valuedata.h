// Registry value data as the registry server hands it to clients. No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace watchsvc {

// Value types, as the registry numbers them.
enum : std::uint32_t {
    kTypeNone = 0,
    kTypeString = 1,        // REG_SZ
    kTypeExpandString = 2,  // REG_EXPAND_SZ
    kTypeBinary = 3,        // REG_BINARY
    kTypeNumber = 4,        // REG_DWORD (little-endian)
    kTypeMultiString = 7,   // REG_MULTI_SZ
};

struct DecodedValue {
    enum Kind {
        Empty,    // a type that is not passed on (binary, none, ...)
        Text,     // `text`, in the system code page
        Number,   // `number`
        Invalid,  // a number whose data is shorter than four bytes
    } kind = Empty;
    std::string text;
    std::int32_t number = 0;
};

// Decodes `size` bytes of data of `type` (8-bit strings). Strings end at their first zero byte or at
// the end of the data, whichever comes first, so unterminated data is never read past its end; an
// expandable string is passed on unexpanded and a multi-string gives its first string.
DecodedValue DecodeValue(std::uint32_t type, const unsigned char* data, std::size_t size);

}  // namespace watchsvc
