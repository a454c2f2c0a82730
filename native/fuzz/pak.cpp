// Any bytes as a .PAK file: the header, the name and description, the checksum, the image found
// behind the entry table and the data total stay inside the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "cardflash/flash/pak_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pak::Header header;
    if (pak::DecodeHeader(data, size, &header)) {
        pak::VersionText(header.version);
        pak::CheckForCard(0x1143, 0, header);
        pak::CheckForCard(header.card_id, static_cast<uint8_t>(header.variant + 1), header);
    }
    CString name, description;
    if (pak::DecodeHeaderBlock(data, size, &header, &name, &description)) {
        uint8_t encoded[pak::kHeaderSize];
        pak::EncodeHeader(header, encoded);
        pak::Checksum(encoded, name, description);
        // The model table rows come from the device database; the texts of the file make rows too.
        pak::ModelRowMatches(name, name, description, true);
        pak::ModelRowMatches(description + "," + name, name, description, false);
    }
    size_t image_offset = 0;
    if (pak::FindImage(data, size, &image_offset) && image_offset > size) std::abort();
    uint32_t total = 0;
    pak::DataTotal(data, size, &total);
    return 0;
}
