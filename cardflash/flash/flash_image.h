// The image a flash writes, taken from the file the user chose: for the modem a .PAK image, the
// modem image of an .MPK package or a plain information-block image, held in a CFis; for the ISDN
// add-on the kind-9 section of the package's "ISDN" record.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/cstring.h"

class CFis;
class CMpkIdResolver;

namespace flash {

// 0; 1, 120, 122, 131, 132, 162, or the code of the package reader or the information block.
int LoadModemImage(const char* path, const CString& pnp_id, CMpkIdResolver* resolver, CFis* fis);
// 0; 132 without a kind 9, or the package reader's code.
int LoadAddOnImage(const char* path, std::vector<uint8_t>* image);

}  // namespace flash
