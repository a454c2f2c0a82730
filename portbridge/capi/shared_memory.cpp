#include "portbridge/capi/shared_memory.h"

#include <cstring>

#include "common/debug.h"

using namespace shared;

// --- CAppSharedMemory ---

CAppSharedMemory::~CAppSharedMemory() { close(); }

void CAppSharedMemory::close() {
    if (view_) UnmapViewOfFile(view_);
    if (section_) CloseHandle(section_);
    view_ = nullptr;
    section_ = nullptr;
}

bool CAppSharedMemory::open(const std::string& name, uint32_t size, size_t needed) {
    close();
    section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
    if (!section_) return false;
    existed_ = GetLastError() == ERROR_ALREADY_EXISTS;
    view_ = static_cast<uint8_t*>(MapViewOfFile(section_, FILE_MAP_WRITE, 0, 0, 0));
    if (!view_) {
        close();
        return false;
    }
    // A section that existed keeps the size its creator gave it, which may be less than ours, and
    // its creator may have only reserved it (SEC_RESERVE): a write to a page not committed
    // faults. The committed run from the start must cover what we use.
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(view_, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
        info.RegionSize < needed) {
        debugPrint(0x08000000, "! section %s maps fewer than %u committed bytes", name.c_str(), unsigned(needed));
        close();
        return false;
    }
    if (!existed_) std::memset(view_, 0, size);
    return true;
}

bool CAppSharedMemory::openInstance(uint32_t instanceId, uint32_t size) {
    return open(instanceSectionName(instanceId), size, kInstanceMinSize);
}

// --- CSharedApplication ---

CSharedApplication::~CSharedApplication() {
    if (requestEvent_) CloseHandle(requestEvent_);
    if (signal_) CloseHandle(signal_);
}

uint16_t CSharedApplication::createFromRegister(CProviderInterface& provider, uint16_t applicationId,
                                                const RegisterParams& params) {
    SlotGeometry geometry;
    if (!slotGeometry(params, &geometry)) return kInfoResources;
    return init(provider, applicationId, geometry);
}

uint16_t CSharedApplication::init(CProviderInterface&, uint16_t applicationId, const SlotGeometry& geometry) {
    applicationId_ = applicationId;
    geometry_ = geometry;
    uint32_t bytes = uint32_t(geometry.bytes());  // bounded by slotGeometry
    if (!record_.open(objectName("AP", applicationId), kRecordSize, kRecordSize) ||
        !transmit_.open(objectName("TX", applicationId), bytes, bytes) ||
        !receive_.open(objectName("RX", applicationId), bytes, bytes))
        return kInfoResources;
    put32(record() + kRecordAppId, applicationId);
    put32(record() + kRecordSlotSize, geometry.size);
    signal_ = CreateSemaphoreA(nullptr, 0, 255, objectName("serlinkSignal", applicationId).c_str());
    return signal_ ? kInfoOk : kInfoResources;
}

// --- CSharedInstance ---

uint16_t CSharedInstance::init(CProviderInterface& provider, uint16_t applicationId, const SlotGeometry& geometry) {
    uint16_t rc = CSharedApplication::init(provider, applicationId, geometry);
    if (rc != kInfoOk) return rc;
    if (!slots_.create(geometry.count)) return kInfoResources;
    createSignalObject();
    if (!requestEvent_) return kInfoResources;
    SetEvent(requestEvent_);
    return provider.installSignal(applicationId, &CSharedInstance::signalProc, reinterpret_cast<uintptr_t>(signal_));
}

void CSharedInstance::createSignalObject() {
    requestEvent_ = CreateEventA(nullptr, FALSE, FALSE, objectName("serlinkRequest", applicationId_).c_str());
}

uint32_t CSharedInstance::signalProc(uint32_t, uintptr_t context) {
    if (ReleaseSemaphore(reinterpret_cast<HANDLE>(context), 1, nullptr)) return 0;
    return GetLastError();
}

const uint8_t* CSharedInstance::resolveTransmitSlot(uint32_t index) {
    return transmit_.view() + size_t(index) * geometry_.size;
}

bool CSharedInstance::storeIndicationData(uint8_t* message, const uint8_t* payload) {
    uint32_t available = payload ? get16(message + kDataLength) : 0;
    uint32_t index = 0, copy = 0;
    if (!storeIndication(message, slots_, geometry_.size, available, &index, &copy)) return false;
    if (copy) std::memcpy(receive_.view() + size_t(index) * geometry_.size, payload, copy);
    return true;
}

uint16_t CSharedInstance::put(CProviderInterface& provider, uint8_t* block) {
    put32(block + 0, blockAddress(requestEvent_));
    put32(block + 6, blockAddress(record() + kPutArea));
    // One read of the client's bytes: what is checked is what the provider gets.
    uint8_t message[kMessageAreaSize];
    std::memcpy(message, record() + kPutArea, sizeof message);
    int64_t slot = -1;
    uint16_t rc = checkPutMessage(message, geometry_, &slot);
    if (rc == kInfoOk) {
        const uint8_t* b3 = nullptr;
        if (slot >= 0) {
            b3 = resolveTransmitSlot(uint32_t(slot));
            // The slot's address in this process, in this platform's form.
            capib3::name(message, sizeof message, get16(message), capib3::addressOf(b3), capib3::kWideAddresses);
        } else if (commandWord(message) == kDataB3Resp && get16(message) >= kDataB3RespMinLength) {
            slots_.release(get32(message + kNcci), get16(message + kRespHandle));
        }
        rc = provider.putMessage(applicationId_, message, b3);
    } else {
        debugPrint(0x08000000, "! put refused for application %u: info %#x", unsigned(applicationId_), unsigned(rc));
    }
    SetEvent(requestEvent_);
    return rc;
}

uint16_t CSharedInstance::get(CProviderInterface& provider, uint8_t* block) {
    uint8_t* got = record() + kRecordGotMessage;
    put32(block + 0, blockAddress(requestEvent_));
    put32(got, 0);
    put32(block + 6, blockAddress(got));
    ProviderGotMessage taken;
    uint16_t rc = provider.getMessage(applicationId_, &taken);
    if (rc != kInfoOk) return rc;
    if (!taken.message) return kInfoQueueEmpty;
    uint8_t* area = record() + kGetArea;
    uint16_t length = get16(taken.message);
    size_t n = length < kMessageAreaSize ? length : kMessageAreaSize;
    std::memcpy(area, taken.message, n);
    if (n < length) put16(area, uint16_t(n));  // the client reads what the length says
    if (n >= kHeaderSize && commandWord(area) == kDataB3Ind) {
        if (n < kDataB3MinLength || !storeIndicationData(area, taken.b3Data)) {
            debugPrint(0x08000000, "! DATA_B3_IND for application %u lost: no receive slot",
                       unsigned(applicationId_));
            std::memset(area, 0, n);
            return kInfoMessageLost;
        }
    }
    put32(got, blockAddress(taken.message));
    SetEvent(requestEvent_);
    return kInfoOk;
}
