// CMPKFile reads one firmware package (.MPK): it selects the record for an adapter, loads its
// sections, builds the ready-to-flash image and writes it out as a .PAK file. CMPKList lists the
// packages of a folder that fit an adapter. Every query opens the package again and closes it on
// every path; results are codes (fw_codes.h), nothing throws.
#pragma once

#include <cstdint>
#include <vector>

#include "cardflash/flash/mpk_format.h"
#include "framework/cstring.h"

class CModem;

// The 357-byte header in front of a modem settings section (kinds 4 and 5).
struct MpkSettingsHeader {
    unsigned char bytes[mpk::kSettingsHeaderSize];
};

// How the package names an adapter. The package records are named by Plug and Play id, but the
// device database may map an adapter's id (and on Windows 2000 its modem identity) to the id of
// another record; an implementation over the adapter record, the device database and the Windows
// facts gives that id here.
class CMpkIdResolver {
public:
    virtual ~CMpkIdResolver() = default;
    // 0 with `package_id` set (to `pnp_id` when the database has nothing to say), or 154 when the
    // database names an empty id.
    virtual int ResolvePackageId(const CString& pnp_id, CString* package_id) = 0;
};

class CMPKFile {
public:
    CMPKFile() = default;
    virtual ~CMPKFile() = default;
    CMPKFile(const CMPKFile&) = delete;
    CMPKFile& operator=(const CMPKFile&) = delete;

    // The identifier "MPKFILEID" and version 2 in the file's first 433 bytes.
    static bool IsPackageFile(const char* path);
    int SetFile(const char* path);  // 150 not a package, 160 a file is already set

    // Selects the record whose upper-cased name equals the adapter's id as the device database
    // maps it (CMpkCardResolver); `modem` (may be null) answers for a generic modem on Windows
    // 2000. 160 already selected, 154 none fits.
    int SelectForCard(const CString& pnp_id, CModem* modem = nullptr);
    // The same with the id mapped by `resolver` (null: the id itself).
    int SelectForCard(const CString& pnp_id, CMpkIdResolver* resolver);
    int SelectByType(uint8_t type);  // 160 already selected, 154 no record of that type
    const CString& GetSelectedName() const { return selection_.name; }

    // Queries on the selected record (161 while none is selected, 154 when it is not found).
    int GetSectionKinds(std::vector<uint32_t>* kinds);  // appended, in file order
    int GetDescription(CString* description);
    int GetVersionText(CString* version);  // 157 neither kind 3 nor 9; 1 image without version
    // The ready-to-flash modem image, built on first use and kept by the object.
    int GetImage(const unsigned char** image, int* length);
    // The ISDN add-on image (kind 9), loaded on first use and kept by the object.
    int GetAddOnImage(const unsigned char** image, int* length);
    // A modem settings section (kind 4 or 5): the data after its header, a copy of the header and
    // the data length. Other kinds give nothing and 157.
    int LoadSection(const unsigned char** data, MpkSettingsHeader* header, int* length, int kind);
    // Length of the selected record's section of `kind` (without the 357-byte header for kinds 4
    // and 5); -1 unless found.
    int ReadSubRecordLength(uint32_t kind, int* length);
    // Loads kind 1, 2, 3 or 9 into the object (once).
    int LoadSubRecord(uint32_t kind);

    // The selected record's image as a .PAK file at `path` (the built modem image, or for a record
    // without one its add-on image): 0; 151 no package; 161 nothing selected; 163 the image
    // cannot be built or loaded, or the record type carries no image entries; 152
    // the output cannot be created; 165 and 153 failed writes (the output is then left empty).
    int WritePakFile(const char* path);
    // Writes `length` bytes as a new file; false when it cannot be created or written.
    static bool WriteSectionFile(const void* buffer, const char* path, int length);

private:
    struct Section {
        bool loaded = false;
        std::vector<uint8_t> data;
    };

    int ReadDirectory(mpk::Directory* directory) const;
    int FindRecord(mpk::Record* record) const;
    // The section's bytes: the first `skip` into `head`, the rest into `data` (replaced only on
    // success). 162 for a length no buffer is given for, or when memory runs out.
    int ReadSection(const mpk::SubRecord& sub, uint32_t skip, void* head, std::vector<uint8_t>* data) const;
    Section* SectionFor(uint32_t kind);
    int BuildImage();

    CString path_;
    mpk::Selection selection_;
    Section cis_, patches_, image_, addon_;
    Section settings_[2];  // kinds 4 and 5, data without the header
    MpkSettingsHeader settings_header_[2] = {};
    bool built_ = false;
    std::vector<uint8_t> built_image_;
};

class CMPKList {
public:
    CMPKList() = default;
    virtual ~CMPKList() = default;

    // Appends every "*.MPK" package of the folder that has a record for the adapter with a section
    // of `kind` and a readable version text and description. The lists are not cleared. Always 1.
    // Without a resolver the adapter's id is mapped through the device database (no modem).
    int Scan(const CString& folder, const CString& pnp_id, uint32_t kind,
             CMpkIdResolver* resolver = nullptr);

    const CStringArray& GetDescriptions() const { return descriptions_; }
    const CStringArray& GetFiles() const { return files_; }
    const CStringArray& GetVersions() const { return versions_; }

private:
    CStringArray descriptions_;
    CStringArray files_;
    CStringArray versions_;
};
