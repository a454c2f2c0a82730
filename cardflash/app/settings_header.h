// The file status at the head of a package's modem settings section: the INF file's times, size
// and attributes and its name. No Windows header: the byte work is tested on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct SettingsFileStatus {
    uint32_t accessed = 0;  // seconds since 1970-01-01 UTC
    uint32_t created = 0;
    uint32_t written = 0;
    uint32_t size = 0;
    uint8_t attributes = 0;
    // The INF's name without any folder: what follows the last '\', '/' or ':' of the name field.
    std::string infName;
};

// Reads the header's `length` bytes; false when they are too few or the name is unusable (not
// terminated inside its field, empty, or only a folder, "." or "..").
bool ParseSettingsHeader(const uint8_t* bytes, size_t length, SettingsFileStatus* status);
