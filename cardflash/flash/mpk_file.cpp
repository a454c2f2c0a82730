#include "cardflash/flash/mpk_file.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "cardflash/flash/file_io.h"
#include "cardflash/flash/fis.h"
#include "cardflash/flash/fw_codes.h"
#include "cardflash/flash/mpk_card_match.h"

bool CMPKFile::IsPackageFile(const char* path) {
    uint8_t header[mpk::kHeaderSize];
    fwio::File f;
    return f.OpenRead(path) && f.ReadExact(header, sizeof header) &&
           mpk::IsPackageHeader(header, sizeof header);
}

int CMPKFile::SetFile(const char* path) {
    if (!IsPackageFile(path)) return fwcode::kMpkNotPackage;
    if (!path_.IsEmpty()) return fwcode::kMpkAlreadySet;
    path_ = path;
    return fwcode::kOk;
}

int CMPKFile::ReadDirectory(mpk::Directory* directory) const {
    if (path_.IsEmpty()) return fwcode::kMpkNoFile;
    fwio::File f;
    uint32_t file_size = 0;
    if (!f.OpenRead(path_) || !f.Size(&file_size)) return fwcode::kMpkOpenFailed;
    std::vector<uint8_t> data(mpk::kHeaderSize);
    if (!f.ReadExact(data.data(), static_cast<uint32_t>(data.size()))) return fwcode::kMpkReadFailed;
    if (!mpk::IsPackageHeader(data.data(), data.size())) return fwcode::kMpkNotPackage;
    const size_t size = mpk::DirectorySize(data.data());
    data.resize(size);
    if (!f.ReadExact(data.data() + mpk::kHeaderSize, static_cast<uint32_t>(size - mpk::kHeaderSize)))
        return fwcode::kMpkReadFailed;
    return mpk::DecodeDirectory(data.data(), data.size(), file_size, directory);
}

int CMPKFile::FindRecord(mpk::Record* record) const {
    if (path_.IsEmpty()) return fwcode::kMpkNoFile;
    if (selection_.name.IsEmpty() && !selection_.has_type) return fwcode::kMpkNotSelected;
    mpk::Directory dir;
    if (int rc = ReadDirectory(&dir)) return rc;
    const int i = mpk::FindSelected(dir, selection_);
    if (i < 0) return fwcode::kMpkNoRecord;
    *record = dir.records[static_cast<size_t>(i)];
    return fwcode::kOk;
}

int CMPKFile::ReadSection(const mpk::SubRecord& sub, uint32_t skip, void* head, std::vector<uint8_t>* data) const {
    // No firmware section is larger than a firmware file may be: a larger length is not given a
    // buffer, as the whole-file read refuses such a file.
    if (sub.length > fwio::kMaxFileSize || skip > sub.length) return fwcode::kMpkOutOfMemory;
    const uint32_t length = sub.length - skip;
    fwio::File f;
    if (!f.OpenRead(path_)) return fwcode::kMpkOpenFailed;
    if (!f.Seek(sub.offset)) return fwcode::kMpkSeekFailed;
    if (skip && !f.ReadExact(head, skip)) return fwcode::kMpkReadFailed;
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(length);
    } catch (const std::bad_alloc&) {
        return fwcode::kMpkOutOfMemory;
    }
    if (length && !f.ReadExact(bytes.data(), length)) return fwcode::kMpkReadFailed;
    data->swap(bytes);
    return fwcode::kOk;
}

int CMPKFile::SelectForCard(const CString& pnp_id, CMpkIdResolver* resolver) {
    if (!selection_.name.IsEmpty() || selection_.has_type) return fwcode::kMpkAlreadySet;
    mpk::Directory dir;
    if (int rc = ReadDirectory(&dir)) return rc;
    CString id = pnp_id;
    if (resolver) {
        if (int rc = resolver->ResolvePackageId(pnp_id, &id)) return rc;
    }
    if (id.IsEmpty()) return fwcode::kMpkNoRecord;
    for (const mpk::Record& r : dir.records) {
        CString name = r.name;
        name.MakeUpper();
        if (name == id) {
            selection_.name = name;
            return fwcode::kOk;
        }
    }
    return fwcode::kMpkNoRecord;
}

int CMPKFile::SelectByType(uint8_t type) {
    if (!selection_.name.IsEmpty() || selection_.has_type) return fwcode::kMpkAlreadySet;
    mpk::Directory dir;
    if (int rc = ReadDirectory(&dir)) return rc;
    for (const mpk::Record& r : dir.records) {
        if (r.type == type) {
            selection_.has_type = true;
            selection_.type = type;
            return fwcode::kOk;
        }
    }
    return fwcode::kMpkNoRecord;
}

int CMPKFile::GetSectionKinds(std::vector<uint32_t>* kinds) {
    mpk::Record r;
    if (int rc = FindRecord(&r)) return rc;
    for (const mpk::SubRecord& s : r.subs) kinds->push_back(s.kind);
    return fwcode::kOk;
}

int CMPKFile::GetDescription(CString* description) {
    mpk::Record r;
    if (int rc = FindRecord(&r)) return rc;
    *description = r.description;
    return fwcode::kOk;
}

int CMPKFile::GetVersionText(CString* version) {
    mpk::Record r;
    if (int rc = FindRecord(&r)) return rc;
    const auto sub = std::find_if(r.subs.begin(), r.subs.end(), [](const mpk::SubRecord& s) {
        return s.kind == mpk::kKindImage || s.kind == mpk::kKindAddOnImage;
    });
    if (sub == r.subs.end()) return fwcode::kMpkNoSubRecord;
    if (sub->kind == mpk::kKindAddOnImage) {
        *version = mpk::AddOnVersionText(r.description);
        return fwcode::kOk;
    }
    std::vector<uint8_t> image;
    if (int rc = ReadSection(*sub, 0, nullptr, &image)) return rc;
    CFis fis;
    char text[500] = {};
    int length = 0;
    if (fis.Attach(image.data(), static_cast<int>(image.size())) != 0 ||
        fis.Get(fis::kCodeVersion, text, sizeof text, &length) != 0)
        return 1;
    *version = text;
    return fwcode::kOk;
}

CMPKFile::Section* CMPKFile::SectionFor(uint32_t kind) {
    switch (kind) {
    case mpk::kKindCis: return &cis_;
    case mpk::kKindPatchList: return &patches_;
    case mpk::kKindImage: return &image_;
    case mpk::kKindAddOnImage: return &addon_;
    default: return nullptr;
    }
}

int CMPKFile::ReadSubRecordLength(uint32_t kind, int* length) {
    *length = -1;
    mpk::Record r;
    if (int rc = FindRecord(&r)) return rc;
    const mpk::SubRecord* s = r.Find(kind);
    if (!s) return fwcode::kMpkNoSubRecord;
    const bool settings = kind == mpk::kKindSettings9x || kind == mpk::kKindSettingsNt;
    *length = static_cast<int>(s->length - (settings ? mpk::kSettingsHeaderSize : 0));
    return fwcode::kOk;
}

int CMPKFile::LoadSubRecord(uint32_t kind) {
    Section* section = SectionFor(kind);
    if (!section) return fwcode::kMpkNoSubRecord;
    if (section->loaded) return fwcode::kOk;
    mpk::Record r;
    if (int rc = FindRecord(&r)) return rc;
    const mpk::SubRecord* s = r.Find(kind);
    if (!s) return fwcode::kMpkNoSubRecord;
    if (int rc = ReadSection(*s, 0, nullptr, &section->data)) return rc;
    section->loaded = true;
    return fwcode::kOk;
}

int CMPKFile::BuildImage() {
    if (built_) return fwcode::kOk;
    for (uint32_t kind : {mpk::kKindImage, mpk::kKindPatchList, mpk::kKindCis}) {
        if (int rc = LoadSubRecord(kind)) return rc;
    }
    if (int rc = mpk::BuildImage(image_.data, patches_.data, cis_.data, &built_image_)) return rc;
    built_ = true;
    return fwcode::kOk;
}

int CMPKFile::GetImage(const unsigned char** image, int* length) {
    if (int rc = BuildImage()) return rc;
    *image = built_image_.data();
    *length = static_cast<int>(built_image_.size());
    return fwcode::kOk;
}

int CMPKFile::GetAddOnImage(const unsigned char** image, int* length) {
    if (int rc = LoadSubRecord(mpk::kKindAddOnImage)) return rc;
    *image = addon_.data.data();
    *length = static_cast<int>(addon_.data.size());
    return fwcode::kOk;
}

int CMPKFile::LoadSection(const unsigned char** data, MpkSettingsHeader* header, int* length, int kind) {
    mpk::Record r;
    if (int rc = FindRecord(&r)) return rc;
    if (kind != mpk::kKindSettings9x && kind != mpk::kKindSettingsNt) return fwcode::kMpkNoSubRecord;
    const mpk::SubRecord* s = r.Find(static_cast<uint32_t>(kind));
    if (!s) return fwcode::kMpkNoSubRecord;
    const size_t i = kind == mpk::kKindSettings9x ? 0 : 1;
    Section& section = settings_[i];
    if (!section.loaded) {
        // The directory check guarantees the section holds its header; the data goes straight
        // into the section's own buffer, so a large section is held once.
        MpkSettingsHeader head;
        if (int rc = ReadSection(*s, mpk::kSettingsHeaderSize, head.bytes, &section.data)) return rc;
        settings_header_[i] = head;
        section.loaded = true;
    }
    *data = section.data.data();
    *header = settings_header_[i];
    *length = static_cast<int>(section.data.size());
    return fwcode::kOk;
}

int CMPKFile::WritePakFile(const char* path) {
    if (path_.IsEmpty()) return fwcode::kMpkNoFile;
    mpk::Record r;
    if (int rc = FindRecord(&r)) return rc;
    // A .PAK without image entries cannot be flashed; refuse before the output is touched.
    if (r.type != 1 && r.type != 2 && r.type != 3 && r.type != 5) return fwcode::kMpkCannotBuild;
    // A modem record gives its built image; a record with only the add-on's image (kind 9) gives
    // that image as it stands, with the record's CIS block where it has one.
    const std::vector<uint8_t>* image = &built_image_;
    if (!r.Find(mpk::kKindImage) && r.Find(mpk::kKindAddOnImage)) {
        if (LoadSubRecord(mpk::kKindAddOnImage) != 0) return fwcode::kMpkCannotBuild;
        if (r.Find(mpk::kKindCis) && LoadSubRecord(mpk::kKindCis) != 0) return fwcode::kMpkCannotBuild;
        image = &addon_.data;
    } else if (BuildImage() != 0) {
        return fwcode::kMpkCannotBuild;
    }

    CString version;
    const uint16_t word = GetVersionText(&version) == 0 ? mpk::VersionWord(version) : 0;
    std::vector<uint8_t> head, body;
    try {
        if (!mpk::EncodePak(r, word, cis_.data, *image, &head, &body)) return fwcode::kMpkCannotBuild;
    } catch (const std::bad_alloc&) {
        return fwcode::kMpkOutOfMemory;
    }

    DeleteFileA(path);
    fwio::File out;
    if (!out.Create(path)) return fwcode::kMpkOpenFailed;
    if (!out.WriteAll(head.data(), static_cast<uint32_t>(head.size()))) {
        out.Truncate();
        return fwcode::kMpkWriteFailed;
    }
    if (!out.WriteAll(body.data(), static_cast<uint32_t>(body.size()))) {
        out.Truncate();
        return fwcode::kMpkReadFailed;
    }
    return fwcode::kOk;
}

bool CMPKFile::WriteSectionFile(const void* buffer, const char* path, int length) {
    if (length < 0 || (!buffer && length > 0)) return false;
    DeleteFileA(path);
    fwio::File out;
    return out.Create(path) && out.WriteAll(buffer, static_cast<uint32_t>(length));
}

int CMPKList::Scan(const CString& folder, const CString& pnp_id, uint32_t kind,
                   CMpkIdResolver* resolver) {
    CMpkCardResolver database(nullptr);
    if (!resolver) resolver = &database;
    CString base = folder;
    if (base.GetLength() > 3) base += '\\';
    for (const std::string& name : fwio::FindFiles(base + "*.MPK")) {
        const CString path = (base.Right(1) == "\\" ? base : base + "\\") + CString(name);
        CMPKFile package;
        std::vector<uint32_t> kinds;
        CString version, description;
        if (!CMPKFile::IsPackageFile(path) || package.SetFile(path) != 0 ||
            package.SelectForCard(pnp_id, resolver) != 0 || package.GetSectionKinds(&kinds) != 0 ||
            std::find(kinds.begin(), kinds.end(), kind) == kinds.end() ||
            package.GetVersionText(&version) != 0 || package.GetDescription(&description) != 0)
            continue;
        descriptions_.Add(description);
        files_.Add(CString(name));
        versions_.Add(version);
    }
    return 1;
}
