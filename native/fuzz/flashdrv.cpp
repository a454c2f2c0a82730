// Any bytes as a .PAK for the flash engine's table check, as a CIS in word form and in byte form
// for the card's values, as a firmware image whose information block leads to a CIS, and as a
// card-name row: nothing reads or writes outside the data, and a table that passes the check has
// every entry inside the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cardflash/flash/flash_engine_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int count = 0;
    if (flashdrv::CheckEntryTable(data, size, &count)) {
        pak::Header header;
        if (!pak::DecodeHeader(data, size, &header)) std::abort();
        for (int i = 0; i < count; ++i) {
            const size_t at = header.table_offset + static_cast<size_t>(i) * pak::kEntrySize;
            if (at + pak::kEntrySize > size) std::abort();
            pak::Entry e;
            pak::DecodeEntry(data + at, &e);
            if (e.data_offset > size || e.length > size - e.data_offset) std::abort();
        }
    }

    flashdrv::CardRecord card;
    std::memset(&card, 0x5A, sizeof card);
    std::vector<uint8_t> words(data, data + size);
    flashdrv::KeepCardValues(words.data(), words.size(), card, true);
    std::vector<uint8_t> widened = flashdrv::Widen(data, size);
    flashdrv::KeepCardValues(widened.data(), widened.size(), card, true);
    if (flashdrv::Narrow(widened.data(), widened.size()).size() != size) std::abort();

    // The image form needs the directory at 0x4000: the input goes there.
    std::vector<uint8_t> image(0x4000 + size, 0);
    if (size) std::memcpy(image.data() + 0x4000, data, size);
    flashdrv::KeepCardValuesInImage(image.data(), image.size(), card);

    flashdrv::CardNameRow row;
    if (flashdrv::ParseCardNameRow(std::string(reinterpret_cast<const char*>(data), size), &row)) {
        flashdrv::SetCardName(&card, std::string(reinterpret_cast<const char*>(data), size));
        flashdrv::MatchCardTable(&card, {row});
    }
    return 0;
}
