// The file side of CFis: whole-image load and save, and the information-block test on a file.
#include <algorithm>
#include "cardflash/flash/file_io.h"
#include "cardflash/flash/fis.h"
#include "cardflash/flash/fw_codes.h"

int CFis::LoadFile(const char* path) {
    // Whatever was held before, a refused load leaves nothing a later Get or CopyOut could take
    // for the file just asked for.
    loaded_ = false;
    if (!IsFisFile(path)) return fwcode::kFisNotFisImage;
    std::vector<uint8_t> data;
    if (!fwio::ReadWholeFile(path, &data) || !fis::IsFisImage(data.data(), data.size()))
        return fwcode::kFisNoImage;
    image_.swap(data);
    loaded_ = true;
    return fwcode::kOk;
}

int CFis::SaveFile(const char* path) const {
    if (!loaded_) return fwcode::kFisNoImage;
    fwio::File f;
    if (!f.OpenWrite(path) || !f.WriteAll(image_.data(), static_cast<uint32_t>(image_.size())))
        return fwcode::kFisWriteFailed;
    return fwcode::kOk;
}

bool CFis::IsFisFile(const char* path) {
    // Only the block's first entry (8 bytes) decides; a short read of the 50 asked for is fine.
    uint8_t head[50] = {};
    fwio::File f;
    if (!f.OpenRead(path) || !f.Seek(static_cast<uint32_t>(fis::kDirectoryOffset))) return false;
    const uint32_t got = f.ReadUpTo(head, sizeof head);
    if (got < 8) return false;
    return head[0] == 1 && std::equal(head + 2, head + 8, "FWINFO");
}
