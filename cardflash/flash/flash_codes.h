// Result codes of the in-place flash. 0 is success; codes the package reader, the image reader or
// the information block give are passed on as they are (fw_codes.h).
#pragma once

namespace flashcode {

enum : int {
    kOk = 0,
    kPakImageFailed = 1,        // reading a .PAK image, or handing it to the information block, failed
    kPortNotOpened = 14,        // the port did not open for the upload
    kCommandFailed = 19,        // an AT command of the modem road failed
    kAddOnNak = 33,             // add-on: NAK instead of the start request
    kAddOnCan = 34,             // add-on: CAN instead of the start request
    kAddOnReadFailed = 35,      // add-on: a port read failed
    kAddOnNoAnswer = 37,        // add-on: no start request after 20 reads, or no answer to a block after 6
    kAddOnPortNotOpened = 38,   // add-on: the port did not open for the upload
    kAddOnRejected = 39,        // add-on: 10 answers to one block that were not ACK
    kAddOnNotConfirmed = 40,    // add-on: "successfully" did not come after the upload
    kNotAnImage = 120,          // neither .PAK nor .MPK and not a firmware image
    kNoSettingsItem = 121,      // the image has no item 0x30
    kImageSizeUnknown = 122,    // the image size is not known, or copying the image failed
    kBadCis = 124,              // the CIS reply did not give 256 bytes, or its version tuple lacks a name
    kWriteFailed = 125,         // writing a block failed on the third try
    kTimeoutError = 126,        // writing the upload-mode code failed, or "TIMEOUT ERROR"
    kEraseError = 127,          // "ERASE ERROR"
    kProgrammingError = 128,    // "PROGRAMMING ERROR"
    kChecksumError = 129,       // "CHECKSUM ERROR"
    kNoPnpId = 131,             // an .MPK is given but the modem has no plug-and-play id
    kMissingSections = 132,     // the package lacks the needed sections
    kOutOfMemory = 162,         // out of memory
};

}  // namespace flashcode
