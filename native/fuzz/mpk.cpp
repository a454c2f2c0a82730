// Any bytes as an .MPK package: the header and record table, every section a record points at,
// the record selection, the image build from a record's patch list and CIS block, and the .PAK a
// record writes (which must read back as a .PAK).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "cardflash/flash/fw_test_files.h"
#include "cardflash/flash/mpk_format.h"
#include "cardflash/flash/pak_format.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An image every patch code and the CIS block can be set in, for patch lists of packages whose
// own image is damaged or missing.
const Bytes& PatchableImage() {
    static const Bytes image = fwtest::FullFisImage().Build();
    return image;
}

Bytes Section(const uint8_t* data, const mpk::SubRecord* sub) {
    if (!sub) return {};
    return Bytes(data + sub->offset, data + sub->offset + sub->length);
}

void CheckPak(const mpk::Record& record, const Bytes& cis, const Bytes& image) {
    const CString version = mpk::AddOnVersionText(record.description);
    Bytes head, body;
    if (!mpk::EncodePak(record, mpk::VersionWord(version), cis, image, &head, &body)) return;
    Bytes file = head;
    file.insert(file.end(), body.begin(), body.end());
    pak::Header header;
    CString name, description;
    size_t image_offset = 0;
    uint32_t total = 0;
    if (!pak::DecodeHeaderBlock(file.data(), file.size(), &header, &name, &description) ||
        name != record.image_name || description != record.description ||
        !pak::FindImage(file.data(), file.size(), &image_offset) ||
        file.size() - image_offset != image.size() || !pak::DataTotal(file.data(), file.size(), &total))
        std::abort();  // a written .PAK that the .PAK reader would refuse
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mpk::Directory directory;
    mpk::DecodeDirectory(data, size, size + 4096, &directory);  // sections may lie past the bytes read
    if (mpk::DecodeDirectory(data, size, size, &directory) != 0) return 0;

    for (const mpk::Record& record : directory.records) {
        for (const mpk::SubRecord& sub : record.subs)
            if (uint64_t{sub.offset} + sub.length > size) std::abort();  // accepted, yet outside the file

        mpk::Selection by_name;
        by_name.name = record.name;
        mpk::FindSelected(directory, by_name);
        mpk::Selection by_type;
        by_type.has_type = true;
        by_type.type = record.type;
        mpk::FindSelected(directory, by_type);

        const mpk::SubRecord* image_sub = record.Find(mpk::kKindImage);
        if (!image_sub) image_sub = record.Find(mpk::kKindAddOnImage);
        const Bytes image = Section(data, image_sub);
        const Bytes patches = Section(data, record.Find(mpk::kKindPatchList));
        const Bytes cis = Section(data, record.Find(mpk::kKindCis));
        Bytes built;
        if (mpk::BuildImage(image, patches, cis, &built) == 0 && built.size() != image.size()) std::abort();
        if (mpk::BuildImage(PatchableImage(), patches, cis, &built) == 0 &&
            built.size() != PatchableImage().size())
            std::abort();
        CheckPak(record, cis, image);
    }
    return 0;
}
