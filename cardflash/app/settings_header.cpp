#include "cardflash/app/settings_header.h"

#include <string>

namespace {

constexpr size_t kNameAt = 17;
constexpr size_t kNameField = 260;
constexpr size_t kHeaderSize = 357;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Windows opens a device, not a file, for these names, with any extension and any case
// ("nul.inf", "COM3.INF"): writing the INF there would send it to the device.
bool IsDeviceName(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (base == device) return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '0' && base[3] <= '9';
}

// Characters that no file name may hold.
bool HasBadCharacter(const std::string& name) {
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || std::string("<>\"|?*").find(c) != std::string::npos) return true;
    return false;
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
    if (name.empty() || name == "." || name == ".." || IsDeviceName(name) || HasBadCharacter(name)) return false;
    status->accessed = Le32(bytes);
    status->created = Le32(bytes + 4);
    status->written = Le32(bytes + 8);
    status->size = Le32(bytes + 12);
    status->attributes = bytes[16];
    status->infName = name;
    return true;
}
