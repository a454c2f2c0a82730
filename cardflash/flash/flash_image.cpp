#include "cardflash/flash/flash_image.h"

#include <algorithm>
#include <cctype>
#include <new>
#include <string>

#include "cardflash/flash/fis.h"
#include "cardflash/flash/flash_codes.h"
#include "cardflash/flash/mpk_file.h"
#include "cardflash/flash/pak_file.h"

namespace flash {

namespace {

std::string UpperPath(const char* path) {
    // The first 255 characters decide the file's kind.
    std::string upper(path ? path : "");
    if (upper.size() > 255) upper.resize(255);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

}  // namespace

int LoadModemImage(const char* path, const CString& pnp_id, CMpkIdResolver* resolver, CFis* fis) {
    if (!path || !fis) return flashcode::kNotAnImage;
    const std::string upper = UpperPath(path);
    if (upper.find(".PAK") != std::string::npos) {
        CPakFile pak;
        int length = -1;
        if (!pak.GetImageLength(path, &length) || length <= 0) return flashcode::kImageSizeUnknown;
        std::vector<uint8_t> image;
        try {
            image.resize(static_cast<size_t>(length));
        } catch (const std::bad_alloc&) {
            return flashcode::kOutOfMemory;
        }
        if (pak.ReadImage(path, image.data(), length) != 0) return flashcode::kPakImageFailed;
        if (fis->Attach(image.data(), length) != 0) return flashcode::kPakImageFailed;
        return 0;
    }
    if (upper.find(".MPK") != std::string::npos) {
        if (pnp_id.IsEmpty()) return flashcode::kNoPnpId;
        CMPKFile mpk;
        if (int code = mpk.SetFile(path)) return code;
        if (int code = mpk.SelectForCard(pnp_id, resolver)) return code;
        std::vector<uint32_t> kinds;
        if (int code = mpk.GetSectionKinds(&kinds)) return code;
        for (uint32_t kind : {1u, 2u, 3u})
            if (std::count(kinds.begin(), kinds.end(), kind) != 1) return flashcode::kMissingSections;
        const unsigned char* image = nullptr;
        int length = 0;
        if (int code = mpk.GetImage(&image, &length)) return code;
        return fis->Attach(image, length);
    }
    if (!CFis::IsFisFile(path)) return flashcode::kNotAnImage;
    return fis->LoadFile(path);
}

int LoadAddOnImage(const char* path, std::vector<uint8_t>* image) {
    CMPKFile mpk;
    if (int code = mpk.SetFile(path)) return code;
    if (int code = mpk.SelectForCard(CString("ISDN"))) return code;
    std::vector<uint32_t> kinds;
    if (int code = mpk.GetSectionKinds(&kinds)) return code;
    if (std::find(kinds.begin(), kinds.end(), 9u) == kinds.end()) return flashcode::kMissingSections;
    const unsigned char* data = nullptr;
    int length = 0;
    if (int code = mpk.GetAddOnImage(&data, &length)) return code;
    if (!data || length < 0) return flashcode::kMissingSections;
    if (image) {
        try {
            image->assign(data, data + length);
        } catch (const std::bad_alloc&) {
            return flashcode::kOutOfMemory;
        }
    }
    return 0;
}

}  // namespace flash
