#include "cardflash/flash/tapi_layout.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tapi {

const char kTextRedialQuestion[] = "Unable to complete call, would you like to re-dial?";
const char kTextInitFailed[] = "Unable to Initialize TAPI";
const char kTextTranslateDialogFailed[] = "Can't open Tapi error right now.";
const char kTextTranslateFailed[] = "Unable to translate phone number";
const char kTextLineIdle[] = "Line is idle";

uint32_t Get32(const std::vector<uint8_t>& b, uint32_t offset) {
    if (offset > b.size() || b.size() - offset < 4) return 0;
    const uint8_t* p = b.data() + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Put32(std::vector<uint8_t>& b, uint32_t offset, uint32_t value) {
    if (b.size() < size_t(offset) + 4) b.resize(size_t(offset) + 4);
    for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::string VarText(const std::vector<uint8_t>& b, uint32_t sizeField, uint32_t offsetField, uint32_t base) {
    uint32_t size = Get32(b, base + sizeField);
    uint32_t offset = Get32(b, base + offsetField);
    // Offsets count from the start of the whole structure.
    uint64_t limit = std::min<uint64_t>(b.size(), Get32(b, kTotalSize));
    if (size == 0 || uint64_t(offset) + size > limit) return std::string();
    std::string text(reinterpret_cast<const char*>(b.data() + offset), size);
    size_t end = text.find('\0');
    if (end != std::string::npos) text.resize(end);
    return text;
}

bool VarStruct::Prepare(uint32_t size, const char* name, const Debug& debug) {
    if (bytes_.size() >= size) {
        std::fill(bytes_.begin(), bytes_.end(), 0);
    } else {
        if (!bytes_.empty() && debug) debug(std::string(name) + "Reallocating structure\n");
        try {
            std::vector<uint8_t> fresh(size, 0);
            bytes_.swap(fresh);
        } catch (const std::bad_alloc&) {
            bytes_.clear();
            if (debug) debug(name);
            return false;
        }
    }
    // A reused buffer may be larger: the query is still told the size it starts with.
    Put32(bytes_, kTotalSize, size);
    return true;
}

int32_t VarStruct::Query(uint32_t startSize, const char* name, const Debug& debug,
                         const std::function<int32_t(uint8_t*, uint32_t)>& query) {
    uint32_t size = startSize;
    int32_t result = kErrNoMem;
    for (int round = 0; round < 4; ++round) {
        if (!Prepare(size, name, debug)) return kErrNoMem;
        result = query(bytes_.data(), static_cast<uint32_t>(bytes_.size()));
        if (result != 0) return result;
        uint32_t needed = Word(kNeededSize);
        if (needed <= Word(kTotalSize)) return result;
        if (needed > kMaxSize) return result;
        size = needed;
    }
    return result;
}

DevCaps ReadDevCaps(const std::vector<uint8_t>& b) {
    DevCaps caps;
    caps.lineName = VarText(b, devcaps::kLineNameSize, devcaps::kLineNameOffset);
    caps.bearerModes = Get32(b, devcaps::kBearerModes);
    caps.mediaModes = Get32(b, devcaps::kMediaModes);
    caps.lineFeatures = Get32(b, devcaps::kLineFeatures);
    return caps;
}

TranslateCaps ReadTranslateCaps(const std::vector<uint8_t>& b) {
    TranslateCaps caps;
    caps.currentId = Get32(b, translatecaps::kCurrentLocation);
    uint64_t limit = std::min<uint64_t>(b.size(), Get32(b, kTotalSize));
    uint64_t offset = Get32(b, translatecaps::kLocationListOffset);
    uint64_t count = Get32(b, translatecaps::kNumLocations);
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t entry = offset + i * location::kSize;
        if (entry + location::kSize > limit) break;
        Location loc;
        loc.id = Get32(b, static_cast<uint32_t>(entry + location::kPermanentId));
        loc.name = VarText(b, location::kNameSize, location::kNameOffset, static_cast<uint32_t>(entry));
        caps.locations.push_back(loc);
    }
    return caps;
}

std::string ReadDialableString(const std::vector<uint8_t>& b) {
    return VarText(b, translateoutput::kDialableSize, translateoutput::kDialableOffset);
}

std::string DisconnectText(uint32_t mode) {
    switch (mode) {
    case 0x1: return "Remote Party Disconnected";
    case 0x2: return "Disconnected: Unknown reason";
    case 0x4: return "Remote Party rejected call";
    case 0x8: return "Disconnected: Local phone picked up";
    case 0x10: return "Disconnected: Forwarded";
    case 0x20: return "Disconnected: Busy";
    case 0x40: return "Disconnected: No Answer";
    case 0x80: return "Disconnected: Bad Address";
    case 0x100: return "Disconnected: Unreachable";
    case 0x200: return "Disconnected: Congestion";
    case 0x400: return "Disconnected: Incompatible";
    case 0x800: return "Disconnected: Unavail";
    case 0x1000: return "Disconnected: No Dial Tone";
    default: return std::string();
    }
}

LineEvent InterpretLineEvent(uint32_t message, uint32_t param1, uint32_t param2, uint32_t param3) {
    LineEvent e;
    switch (message) {
    case kLineCallState:
        // A change to monitoring privilege is somebody else's call.
        if (param3 != 0 && param3 != kPrivilegeOwner) break;
        switch (param1) {
        case kCallIdle: e.text = kTextLineIdle; e.closeLine = true; break;
        case kCallDialTone: e.text = "Dial Tone"; break;
        case kCallDialing: e.text = "Dialing Call"; break;
        case kCallRingBack: e.text = "RingBack"; break;
        case kCallBusy: e.text = "Line is busy"; e.closeLine = true; break;
        case kCallConnected: e.text = "Connected to Dorvex Server"; e.connected = true; break;
        case kCallDisconnected: e.text = DisconnectText(param2); e.askRedial = true; break;
        default: break;
        }
        break;
    case kLineClose:
        e.text = "Call was shutdown";
        e.closeLine = true;
        break;
    case kLineDevState:
        switch (param1) {
        case kDevRinging: e.text = "Line Ringing"; break;
        case kDevDisconnected: e.text = "Line selected is now disconnected."; e.closeLine = true; break;
        case kDevOutOfService: e.text = "Line selected is now Out of Service"; e.closeLine = true; break;
        case kDevMaintenance: e.text = "Line selected is in maintenance."; e.closeLine = true; break;
        default: break;
        }
        break;
    case kLineReply:
        e.text = param2 != 0 ? "LINE_REPLY: Error" : "LINE_REPLY: Successfully replied";
        break;
    default:  // LINE_CREATE and the rest
        break;
    }
    return e;
}

}  // namespace tapi
