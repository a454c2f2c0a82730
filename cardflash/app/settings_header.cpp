#include "cardflash/app/settings_header.h"

namespace {

constexpr size_t kNameAt = 17;
constexpr size_t kNameField = 260;
constexpr size_t kHeaderSize = 357;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool ParseSettingsHeader(const uint8_t* bytes, size_t length, SettingsFileStatus* status) {
    if (!bytes || !status || length < kHeaderSize) return false;
    const uint8_t* field = bytes + kNameAt;
    size_t end = 0;
    while (end < kNameField && field[end] != 0) ++end;
    if (end == kNameField) return false;
    std::string name(reinterpret_cast<const char*>(field), end);
    // A package names a file for the program folder, never a path out of it.
    size_t cut = name.find_last_of("\\/:");
    if (cut != std::string::npos) name.erase(0, cut + 1);
    if (name.empty() || name == "." || name == "..") return false;
    status->accessed = Le32(bytes);
    status->created = Le32(bytes + 4);
    status->written = Le32(bytes + 8);
    status->size = Le32(bytes + 12);
    status->attributes = bytes[16];
    status->infName = name;
    return true;
}
