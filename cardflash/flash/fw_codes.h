// Result codes of the firmware file readers. 0 is success everywhere; the error object shows each
// code through its string-table text, or as "Error code %d" where there is none.
#pragma once

namespace fwcode {

enum : int {
    kOk = 0,

    // Information block (CFis).
    kFisWriteFailed = 64,    // the image cannot be written to the file
    kFisNoImage = 65,        // nothing held, the file cannot be read, or no entry with the code
    kFisNotFisImage = 66,    // not an information-block image
    kFisCannotSet = 67,      // the directory holds no such code, or the code cannot be set
    kFisDoesNotFit = 68,     // the value is too long (or too short for a fixed-size field)
    kFisNoArea = 69,         // the entry describes no area inside the image

    // .PAK reader.
    kPakNoVersionItem = 121,  // the image has no item 0x30
    kPakNoImageLength = 122,  // the image length cannot be found
    kPakReadFailed = 130,     // the file cannot be opened, sized, positioned or read

    // .MPK reader.
    kMpkNotPackage = 150,
    kMpkNoFile = 151,
    kMpkOpenFailed = 152,
    kMpkReadFailed = 153,     // also a damaged record table or section outside the file
    kMpkNoRecord = 154,
    kMpkSeekFailed = 156,
    kMpkNoSubRecord = 157,
    kMpkBadPatchCode = 159,
    kMpkAlreadySet = 160,
    kMpkNotSelected = 161,
    kMpkOutOfMemory = 162,
    kMpkCannotBuild = 163,
    kMpkWriteFailed = 165,
};

}  // namespace fwcode
