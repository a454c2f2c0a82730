// The TAPI 1.4 (API version 0x00010004) structures cardflash reads and writes, as byte layouts,
// and what it makes of line events. No Windows header: the structures are taken apart over byte
// buffers with every offset and size checked against the buffer, so a line driver that reports
// nonsense gives empty fields, never a read outside the buffer. The TAPI stand-in of the tests
// writes its answers with the same layouts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tapi {

constexpr uint32_t kApiVersion = 0x00010004;

// Every variable-size structure starts with these three words.
constexpr uint32_t kTotalSize = 0, kNeededSize = 4, kUsedSize = 8;

// The fixed parts as TAPI 1.4 has them, and the sizes the queries start with.
namespace devcaps {
constexpr uint32_t kLineNameSize = 32, kLineNameOffset = 36, kBearerModes = 52, kMediaModes = 60,
                   kLineFeatures = 236, kFixed = 240, kStart = 1264;
}
namespace translatecaps {
constexpr uint32_t kNumLocations = 12, kLocationListSize = 16, kLocationListOffset = 20, kCurrentLocation = 24,
                   kFixed = 44, kStart = 44;
}
namespace location {  // one entry of the location list
constexpr uint32_t kPermanentId = 0, kNameSize = 4, kNameOffset = 8, kSize = 68;
}
namespace translateoutput {
constexpr uint32_t kDialableSize = 12, kDialableOffset = 16, kFixed = 40, kStart = 1064;
}
namespace addressstatus {
constexpr uint32_t kAddressFeatures = 28, kFixed = 64, kStart = 1088;
}
namespace callinfo {
constexpr uint32_t kRate = 28, kFixed = 296, kMonitorSize = 1000;
}
namespace callparams {
constexpr uint32_t kBearerMode = 4, kMediaMode = 16, kCallParamFlags = 20, kAddressMode = 24, kAddressId = 28,
                   kSize = 112;
}

// Values of the API.
constexpr uint32_t kBearerVoice = 0x1;
constexpr uint32_t kMediaDataModem = 0x10;
constexpr uint32_t kLineFeatureMakeCall = 0x8;
constexpr uint32_t kAddressFeatureMakeCall = 0x2;
constexpr uint32_t kCallParamIdle = 0x2;
constexpr uint32_t kAddressModeAddressId = 0x1;
constexpr uint32_t kPrivilegeNone = 0x1, kPrivilegeMonitor = 0x2, kPrivilegeOwner = 0x4;
constexpr uint32_t kAllLineStates = 0x1BFFFFF, kAllAddressStates = 0x1FF;
constexpr uint32_t kTranslateOption = 2;
constexpr int32_t kErrAllocated = static_cast<int32_t>(0x80000001u);
constexpr int32_t kErrStructureTooSmall = static_cast<int32_t>(0x8000004Du);
constexpr int32_t kErrNoMem = static_cast<int32_t>(0x80000044u);
constexpr int32_t kErrOperationUnavail = static_cast<int32_t>(0x8000003Cu);

// Line messages.
constexpr uint32_t kLineCallState = 2, kLineClose = 3, kLineDevState = 8, kLineReply = 12, kLineCreate = 19;
// Call states.
constexpr uint32_t kCallIdle = 0x1, kCallDialTone = 0x8, kCallDialing = 0x10, kCallRingBack = 0x20,
                   kCallBusy = 0x40, kCallConnected = 0x100, kCallDisconnected = 0x4000;
// Line device states.
constexpr uint32_t kDevRinging = 0x2, kDevDisconnected = 0x8, kDevOutOfService = 0x80, kDevMaintenance = 0x100;

uint32_t Get32(const std::vector<uint8_t>& b, uint32_t offset);  // 0 outside the buffer
void Put32(std::vector<uint8_t>& b, uint32_t offset, uint32_t value);  // grows the buffer when needed

// The text at (size field, offset field) of a structure: offset and size must lie inside both the
// buffer and its total size; trailing terminators are dropped. Empty when they do not.
std::string VarText(const std::vector<uint8_t>& b, uint32_t sizeField, uint32_t offsetField, uint32_t base = 0);

// A variable-size structure buffer and the query loop that grows it to what TAPI needs.
class VarStruct {
public:
    using Debug = std::function<void(const std::string&)>;
    // Needed sizes beyond this are not believed.
    static constexpr uint32_t kMaxSize = 1u << 20;

    // Zero-fills a buffer of at least `size` bytes (reusing one large enough, else allocating anew
    // with "<name>Reallocating structure\n" to `debug`) and sets its total size to `size`. False
    // when the memory cannot be had (`name` goes to `debug`).
    bool Prepare(uint32_t size, const char* name, const Debug& debug);

    // Runs `query` (returns TAPI's result) from `startSize`, growing to the needed size while
    // TAPI asks for more; a needed size above kMaxSize or more than a few rounds end it with
    // the last result. kErrNoMem when no buffer could be had.
    int32_t Query(uint32_t startSize, const char* name, const Debug& debug,
                  const std::function<int32_t(uint8_t* data, uint32_t size)>& query);

    std::vector<uint8_t>& bytes() { return bytes_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    uint32_t Word(uint32_t offset) const { return Get32(bytes_, offset); }
    void Clear() { bytes_.clear(); bytes_.shrink_to_fit(); }

private:
    std::vector<uint8_t> bytes_;
};

// The parts of the device capabilities the program uses.
struct DevCaps {
    std::string lineName;
    uint32_t bearerModes = 0, mediaModes = 0, lineFeatures = 0;
};
DevCaps ReadDevCaps(const std::vector<uint8_t>& b);

struct Location {
    uint32_t id = 0;
    std::string name;
};
struct TranslateCaps {
    std::vector<Location> locations;  // as many entries as lie inside the buffer
    uint32_t currentId = 0;
};
TranslateCaps ReadTranslateCaps(const std::vector<uint8_t>& b);

std::string ReadDialableString(const std::vector<uint8_t>& b);

// What one line event means to a dialling program.
struct LineEvent {
    std::string text;        // empty: nothing to tell
    bool connected = false;  // the connected text
    bool closeLine = false;
    bool askRedial = false;  // after the text: ask whether to dial again
};
LineEvent InterpretLineEvent(uint32_t message, uint32_t param1, uint32_t param2, uint32_t param3);

// The text of a disconnect mode; empty for an unknown one.
std::string DisconnectText(uint32_t mode);

// The fixed texts of the dialling side.
extern const char kTextRedialQuestion[];
extern const char kTextInitFailed[];
extern const char kTextTranslateDialogFailed[];
extern const char kTextTranslateFailed[];
extern const char kTextLineIdle[];

}  // namespace tapi
