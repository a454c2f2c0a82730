// portbridge's settings file "SERLINK.INI" (named without a folder, so the system's settings-file
// functions look for it in the Windows folder): the settings-file access class and the
// configuration record with its built-in defaults, read again at every open of the adapter.
// dialconf writes [COMM] comPort.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/tobject.h"

namespace portbridge {

// One settings file and a default section; every read goes through the system's private-profile
// functions on the stored file name.
class CIniProfile : public TObject {
public:
    static constexpr size_t kNameSize = 128;
    static constexpr size_t kValueSize = 512;
    // Called for each key name by forEachKey; non-zero stops nothing but is reported (13).
    using KeyProc = uint32_t (*)(uintptr_t first, const char* key, uintptr_t second);

    CIniProfile();
    ~CIniProfile() override;
    void shutDown() override;
    // Keeps both names (cut to 127 characters). 0 when the file exists, else the system error.
    virtual uint32_t setFile(const char* fileName, const char* defaultSection);
    // The NUL-separated key names of a section into `buffer` (a null buffer: an empty text).
    virtual const char* keyNames(const char* section, char* buffer, size_t size);
    virtual const char* defaultKeyNames();
    // 1 when the key is there (read with the default "bla", it gives something else).
    virtual int hasKey(const char* section, const char* key);
    virtual int hasDefaultKey(const char* key);
    virtual uint32_t keyCount(const char* section);
    // 259 when the section has no key, 8 when the name list cannot be had, 13 when a call
    // returned non-zero, else 0.
    virtual uint32_t forEachKey(const char* section, KeyProc proc, uintptr_t first, uintptr_t second);
    virtual uint32_t readInt(const char* section, const char* key, int fallback);
    virtual uint32_t readDefaultInt(const char* key, int fallback);
    virtual int32_t readDecimal(const char* section, const char* key, int32_t fallback);
    virtual int32_t readDefaultDecimal(const char* key, int32_t fallback);
    // Up to 511 characters into the value buffer.
    virtual const char* readString(const char* section, const char* key, const char* fallback);
    virtual const char* readDefaultString(const char* key, const char* fallback);
    virtual uint32_t readDefaultHex(const char* key, uint32_t fallback);
    // Always hexadecimal, also the default: see profileHex.
    virtual uint32_t readHex(const char* section, const char* key, uint32_t fallback);

    const char* fileName() const { return file_; }

protected:
    char file_[kNameSize] = {};
    char section_[kNameSize] = {};
    char value_[kValueSize] = {};
};

// The three blocks the terminal-adapter port is given.
struct TaLinkBlock {
    uint16_t word1 = 0, word2 = 2200, word3 = 0;
    uint16_t t1 = 1000, t2 = 0;
    uint8_t bytes[3] = {1, 3, 8};
    uint8_t windowSize = 4;
    uint8_t byte5 = 0;
};
struct TaPortBlock {
    uint16_t word1 = 4400, word2 = 0;
    uint16_t comPort = 2;
    uint32_t baudRate = 115200;
    uint16_t word3 = 16, word4 = 8;
    uint16_t bufferSize = 1024;
    uint32_t word5 = 2;
    uintptr_t notificationWindow = 0;
    char modemInit[16] = "ATCM3\r";
};
struct TaIdentificationBlock {
    char versionCommand[8] = "";
    char versionAnswer[80] = "";
    char nameCommand[8] = "";
    char nameAnswer[80] = "";
};

class CTaConfig : public CIniProfile {
public:
    static constexpr const char* kFileName = "SERLINK.INI";
    // The built-in defaults, on the file "SERLINK.INI" with the default section "COMM".
    CTaConfig();
    // Reads every key over the defaults, in the file's order; also sets the process-wide
    // message-trace switch and ORs into the B3 options word.
    virtual void readConfiguration();
    virtual void reserved() {}
    virtual void setNotificationWindow(uintptr_t window) { port.notificationWindow = window; }

    // "COM" and the port number.
    void serialDeviceName(char* out, size_t size) const;

    TaLinkBlock link;
    TaPortBlock port;
    TaIdentificationBlock identification;
};

// Process-wide switches of the last read. The B3 options word only ever gains bits.
uint32_t messageTraceSwitch();
uint32_t b3OptionsWord();

namespace testing {
// Back to the state of a fresh process, for tests that run several reads in one.
void resetProcessSwitches();
}  // namespace testing

}  // namespace portbridge
