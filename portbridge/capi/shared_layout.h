// The bytes that portbridge shares with the system's CAPI library, and the checks every value read
// from them passes before use. No Windows header: the window side and the shared-memory wrappers
// use these, and the tests drive them directly (also natively).
//
// Per client instance, one section named "%.08x" after the instance id:
//    8  parameter block of every call but get message (28 bytes)
//   36  parameter block of get message (28 bytes)
//   64  u16 application id left by register
//   66  64-byte result buffer of manufacturer, version text, serial number and profile
//  132  u32 the instance id, written by the provider on attach
//
// Per registered application: "AP%02d" (the application record below), "TX%02d" and "RX%02d"
// (count x size bytes of B3 slots, count = maximum logical connections x maximum B3 blocks, size =
// maximum B3 data length), the event "serlinkRequest%02d" and the semaphore "serlinkSignal%02d".
// In DATA_B3_REQ and DATA_B3_IND crossing the sections, Data (offset 12) holds a slot index and
// a Data64 field (a 64-bit platform's message) is 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/capi_data_b3.h"
#include "common/le_bytes.h"
#include "common/tobject.h"

namespace shared {

// Instance section.
constexpr size_t kCallBlock = 8;
constexpr size_t kGetBlock = 36;
constexpr size_t kBlockSize = 28;
constexpr size_t kAppIdResult = 64;
constexpr size_t kResultBuffer = 66;
constexpr size_t kResultBufferSize = 64;
constexpr size_t kInstanceId = 132;
constexpr size_t kInstanceMinSize = kInstanceId + 4;  // the bytes the provider touches
// The client chooses the size; more than this is refused rather than committed.
constexpr uint32_t kInstanceMaxSize = 1024 * 1024;

// Application record ("AP" + id).
constexpr size_t kRecordSize = 576;
constexpr size_t kRecordAppId = 0;
constexpr size_t kPutArea = 4;
constexpr size_t kGetArea = 286;
constexpr size_t kMessageAreaSize = 282;
constexpr size_t kRecordSlotSize = 568;
constexpr size_t kRecordGotMessage = 572;

// Slot sections larger than this are refused: the maximum B3 figures of one application are
// client values, and their product must not exhaust the page file.
constexpr uint64_t kMaxSlotSectionBytes = 16u * 1024 * 1024;
// Each slot costs the provider a node of its own, made on its main thread.
constexpr uint32_t kMaxSlotCount = 4096;

// The CAPI call's function codes.
enum : uint32_t {
    kFnRegister = 1, kFnRelease = 2, kFnPut = 3, kFnGet = 4, kFnSignal = 5,
    kFnManufacturer = 0xF0, kFnVersion = 0xF1, kFnSerialNumber = 0xF2, kFnProfile = 0xF3,
};
constexpr uint16_t kVersionTextSelector = 11;

// CAPI 2.0 info values used on this interface.
enum : uint16_t {
    kInfoOk = 0,
    kInfoUnknownApplication = 0x1101,
    kInfoBadMessage = 0x1102,
    kInfoQueueFull = 0x1103,
    kInfoQueueEmpty = 0x1104,
    kInfoMessageLost = 0x1105,
    kInfoResources = 0x1108,
    kInfoNotInstalled = 0x1109,
    kInfoBadParameter = 0x2007,
};

using le::get16;
using le::get32;
using le::put16;
using le::put32;

// "AP07", "serlinkSignal12", ...: the prefix and the id in at least two decimal digits.
std::string objectName(const char* prefix, uint32_t applicationId);
// "%.08x" of the instance id.
std::string instanceSectionName(uint32_t instanceId);

// The register parameter block (function 1) as read once from the instance section.
struct RegisterParams {
    uint32_t messageBufferSize = 0;
    uint16_t maxLogicalConnections = 0;
    uint16_t maxB3Blocks = 0;
    uint16_t maxB3DataLength = 0;
    uint16_t version = 0;
    uint16_t queue = 0;
};
RegisterParams readRegisterParams(const uint8_t* block);
void writeRegisterParams(uint8_t* block, const RegisterParams& params);

// The B3 slot geometry of one application: count slots of size bytes in TX and in RX.
struct SlotGeometry {
    uint32_t count = 0;
    uint32_t size = 0;
    uint64_t bytes() const { return uint64_t(count) * size; }
};
// False when the sections would be empty, larger than kMaxSlotSectionBytes or hold more than
// kMaxSlotCount slots.
bool slotGeometry(const RegisterParams& params, SlotGeometry* out);

// The message in a put area, checked before the provider sees it (`message` holds a copy of
// the area, kMessageAreaSize bytes). Returns kInfoOk with the TX slot index of a DATA_B3_REQ in
// *txSlot (or -1 for other messages); kInfoBadMessage for a length outside 12..282; and
// kInfoBadParameter for a DATA_B3_REQ too short to carry its data fields, or whose slot index or
// data length does not fit the TX section.
uint16_t checkPutMessage(const uint8_t* message, const SlotGeometry& tx, int64_t* txSlot);

// The provider's own address for a 32-bit field of a parameter block or record, which the client
// ignores. A 64-bit build has no address that fits: it writes 0 rather than a cut one.
inline uint32_t blockAddress(const void* p) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(p);
    return a > 0xFFFFFFFFu ? 0 : uint32_t(a);
}

// Command words (command | subcommand << 8). The CAPI 1.1 subcommands 0 to 3 read as their 2.0
// forms 0x80 to 0x83, as the engine reads them: a DATA_B3 message of either version crosses the
// sections alike.
constexpr uint16_t kDataB3Req = 0x8086;
constexpr uint16_t kDataB3Ind = 0x8286;
constexpr uint16_t kDataB3Resp = 0x8386;
constexpr uint16_t kDisconnectB3Ind = 0x8284;
inline uint16_t commandWord(const uint8_t* message) { return uint16_t(message[4] | ((message[5] | 0x80) << 8)); }

constexpr size_t kHeaderSize = 8;

// Data fields of DATA_B3_REQ / DATA_B3_IND, and of DATA_B3_RESP.
constexpr size_t kNcci = 8;
constexpr size_t kData = 12;
constexpr size_t kDataLength = 16;
constexpr size_t kDataHandle = 18;
constexpr size_t kDataB3MinLength = 22;
constexpr size_t kRespHandle = 12;
constexpr size_t kDataB3RespMinLength = 14;

// One receive slot: its index in RX, and while in use the indication it holds.
class CReceiveSlot : public CDoubleListNode {
public:
    explicit CReceiveSlot(uint32_t index) : index_(index) { name_ = "CReceiveSlot"; }
    uint32_t index() const { return index_; }
    uint32_t ncci = 0;
    uint16_t dataHandle = 0;

private:
    uint32_t index_;
};

// The receive slots of one application: free ones, and those holding an indication the client
// has not answered yet, oldest first.
class CReceiveSlotTable {
public:
    CReceiveSlotTable() = default;
    ~CReceiveSlotTable();
    CReceiveSlotTable(const CReceiveSlotTable&) = delete;
    CReceiveSlotTable& operator=(const CReceiveSlotTable&) = delete;

    // count free slots, index 0 upward; false (with the slots made so far) when memory runs out.
    bool create(uint32_t count);
    // Takes the oldest free slot for an indication; null when none is free.
    CReceiveSlot* take(uint32_t ncci, uint16_t dataHandle);
    // Frees the oldest slot in use that holds (ncci, dataHandle); -1 when none does, else its
    // index.
    int64_t release(uint32_t ncci, uint16_t dataHandle);
    int32_t freeCount() const { return free_.getSize(); }
    int32_t usedCount() const { return used_.getSize(); }

private:
    CDoubleList free_;
    CDoubleList used_;
};

// What the get completion does with a DATA_B3_IND copied into the get area (`message`, which
// holds at least kDataB3MinLength bytes and as many as its length says): the slot it takes and the
// bytes it copies. Returns false when no slot is free (the indication is lost). On success Data
// holds the slot index and DataLength the bytes copied (the payload is cut to the slot size), a
// Data64 field is 0, and *copy says how many bytes of the payload go into the slot.
bool storeIndication(uint8_t* message, CReceiveSlotTable& slots, uint32_t slotSize, uint32_t payloadAvailable,
                     uint32_t* slotIndex, uint32_t* copy);

}  // namespace shared
