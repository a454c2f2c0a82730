// Registry fixture text: a small .reg-style format, parsed without any Windows header.
//
//   ; comment
//   [HKEY_LOCAL_MACHINE\Enum\PCMCIA\Card]     a key (created with its missing parents)
//   "Name"="text with \"quotes\" and \\"       REG_SZ
//   @="default value"                         the key's default value
//   "Count"=dword:0000001f                    REG_DWORD
//   "Data"=hex:01,02,ff                       REG_BINARY (may continue over lines ending in '\')
//   "Multi"=hex(7):41,00,00,00                any type by number: hex(N)
//   "Gone"=-                                  delete that value
//   [-HKEY_CURRENT_USER\Software\Old]          delete that key and everything below it
//
// Root names: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS,
// HKEY_CURRENT_CONFIG, HKEY_DYN_DATA, and the short forms HKLM, HKCU, HKCR, HKU, HKCC, HKDD.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winetest {

enum class RegRoot { LocalMachine, CurrentUser, ClassesRoot, Users, CurrentConfig, DynData };

struct RegValueText {
    std::string name;         // empty: the default value
    bool remove = false;      // "Name"=-
    uint32_t type = 0;        // REG_SZ 1, REG_BINARY 3, REG_DWORD 4, ...
    std::vector<uint8_t> data;  // as stored, REG_SZ with its terminating zero
};

struct RegKeyText {
    RegRoot root = RegRoot::LocalMachine;
    std::string path;         // below the root, no leading backslash
    bool remove = false;      // [-...]
    std::vector<RegValueText> values;
};

// Parses fixture text. On a malformed line returns false and sets *error to "line N: what".
bool ParseRegText(const std::string& text, std::vector<RegKeyText>* keys, std::string* error);

// "HKEY_LOCAL_MACHINE" or "HKLM" (any case) to a root; false when unknown.
bool ParseRegRoot(const std::string& name, RegRoot* root);

}  // namespace winetest
