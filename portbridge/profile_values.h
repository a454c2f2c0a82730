// How values of the settings file are read as numbers. No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace portbridge {

// Hexadecimal: "0x" is put in front unless the text already starts with it, then the text is
// read as a hexadecimal number. So "10" reads 16, and a default given as decimal digits ("%lu")
// turns into a hexadecimal number (0 and 1 read back unchanged). Nothing readable gives 0.
uint32_t profileHex(const char* text);
// Decimal, as a long; an empty text gives `fallback`.
int32_t profileDecimal(const char* text, int32_t fallback);
// Copies at most size - 1 characters and terminates.
void copyCut(char* out, size_t size, const char* text);

}  // namespace portbridge
