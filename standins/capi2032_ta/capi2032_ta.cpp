// capi2032.dll for the terminal adapter: the nine CAPI 2.0 entry points over portbridge's window
// and named objects. It never starts the provider and never reads an address the provider leaves
// in shared memory; only indices and lengths cross, and each is checked here as well.
//
//   - The first call finds the provider's window and attaches this process: a section "%.08x"
//     named after the instance id, announced with WM_CAPISP_ATTACH. Unloading releases what is
//     still registered, detaches and asks for the idle shut-down.
//   - Each call fills its parameter block in the instance section and sends WM_CAPISP_CALL; one
//     lock per block (get message has a block of its own, so a receive thread's get never waits
//     behind a put).
//   - Per application: the record "AP", the slots "TX" and "RX", the semaphore "serlinkSignal"
//     that CAPI_WAIT_FOR_SIGNAL waits on (a release wakes it too).
//   - DATA_B3_REQ: the payload goes into a free TX slot (held until its DATA_B3_CONF) and Data
//     carries the slot index. DATA_B3_IND: Data (on a 64-bit platform Data64) becomes the address
//     of the RX slot in this process, valid until the DATA_B3_RESP.
#include <windows.h>

#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "common/capi_data_b3.h"
#include "common/stage_clock_win32.h"
#include "portbridge/capi/shared_layout.h"

using namespace shared;

namespace {

constexpr UINT kCall = WM_USER + 106;
constexpr UINT kAttach = WM_USER + 108;
constexpr UINT kDetach = WM_USER + 109;
constexpr UINT kShutDown = WM_USER + 110;
// The provider's main thread may wait for the adapter (link bring-up, registration) for many
// seconds inside one call.
constexpr UINT kCallTimeoutMs = 60000;
constexpr uint32_t kInstanceSectionSize = 256;
constexpr DWORD kNotInstalled = 0x1009;  // CAPI_REGISTER and CAPI_INSTALLED without a provider

class CLock {
public:
    CLock() { InitializeCriticalSection(&cs_); }
    ~CLock() { DeleteCriticalSection(&cs_); }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;
    void enter() { EnterCriticalSection(&cs_); }
    void leave() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

class CHold {
public:
    explicit CHold(CLock& lock) : lock_(lock) { lock_.enter(); }
    ~CHold() { lock_.leave(); }
    CHold(const CHold&) = delete;
    CHold& operator=(const CHold&) = delete;

private:
    CLock& lock_;
};

// One named section opened (never created) by name, with the size it really has.
class CView {
public:
    CView() = default;
    ~CView() { close(); }
    CView(const CView&) = delete;
    CView& operator=(const CView&) = delete;

    bool open(const std::string& name, size_t needed) {
        section_ = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str());
        if (!section_) return false;
        view_ = static_cast<uint8_t*>(MapViewOfFile(section_, FILE_MAP_WRITE, 0, 0, 0));
        MEMORY_BASIC_INFORMATION info;
        if (!view_ || VirtualQuery(view_, &info, sizeof info) != sizeof info || info.RegionSize < needed) {
            close();
            return false;
        }
        return true;
    }
    void close() {
        if (view_) UnmapViewOfFile(view_);
        if (section_) CloseHandle(section_);
        view_ = nullptr;
        section_ = nullptr;
    }
    uint8_t* get() const { return view_; }

private:
    HANDLE section_ = nullptr;
    uint8_t* view_ = nullptr;
};

struct TxSlot {
    bool used = false;
    uint32_t ncci = 0;
    uint16_t handle = 0;
};

// The objects of one registered application. Shared by the callers of the moment: a release
// while another thread waits for a signal leaves the handles open until that wait has ended.
struct Application {
    uint16_t id = 0;
    SlotGeometry slots;
    CView record, transmit, receive;
    HANDLE signal = nullptr;
    HANDLE released = nullptr;  // ours: wakes the waiters when the application goes
    CLock txLock;
    std::vector<TxSlot> tx;
    uint8_t got[kMessageAreaSize] = {};  // the last message got, valid until the next get

    ~Application() {
        if (signal) CloseHandle(signal);
        if (released) CloseHandle(released);
    }

    bool open(uint16_t applicationId, const SlotGeometry& geometry) {
        id = applicationId;
        slots = geometry;
        size_t bytes = size_t(geometry.bytes());
        if (!record.open(objectName("AP", id), kRecordSize) || !transmit.open(objectName("TX", id), bytes) ||
            !receive.open(objectName("RX", id), bytes))
            return false;
        if (get32(record.get() + kRecordSlotSize) != geometry.size) return false;
        signal = OpenSemaphoreA(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, objectName("serlinkSignal", id).c_str());
        released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!signal || !released) return false;
        tx.assign(geometry.count, TxSlot());
        return true;
    }

    int64_t takeTx(uint32_t ncci, uint16_t handle) {
        CHold hold(txLock);
        for (size_t i = 0; i < tx.size(); ++i)
            if (!tx[i].used) {
                tx[i] = {true, ncci, handle};
                return int64_t(i);
            }
        return -1;
    }
    void freeTx(size_t index) {
        CHold hold(txLock);
        if (index < tx.size()) tx[index].used = false;
    }
    // The B3 connection ended: what it still held is never confirmed now.
    void endTx(uint32_t ncci) {
        CHold hold(txLock);
        for (TxSlot& s : tx)
            if (s.used && s.ncci == ncci) s.used = false;
    }
    void confirmTx(uint32_t ncci, uint16_t handle) {
        CHold hold(txLock);
        for (TxSlot& s : tx)
            if (s.used && s.ncci == ncci && s.handle == handle) {
                s.used = false;
                return;
            }
    }
};

// The process's one attachment to the provider.
struct Library {
    CLock attachLock;
    CLock tableLock;
    CLock callLock;  // the parameter block at +8
    CLock getLock;   // the parameter block at +36
    HWND window = nullptr;
    uint32_t instanceId = 0;
    HANDLE section = nullptr;
    uint8_t* view = nullptr;
    std::map<uint16_t, std::shared_ptr<Application>> applications;
};

Library* g_library = nullptr;

// An id whose low 16 bits never read as an attach refusal (0x1108) or as 0.
uint32_t chooseInstanceId() { return (GetCurrentProcessId() << 8) | 0x5A; }

bool attached() {
    Library& lib = *g_library;
    CHold hold(lib.attachLock);
    if (lib.view) return true;
    HWND window = FindWindowA("capispAppWinClass", "TA capi service provider");
    if (!window) return false;
    uint32_t id = chooseInstanceId();
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kInstanceSectionSize,
                                        instanceSectionName(id).c_str());
    if (!section) return false;
    uint8_t* view = static_cast<uint8_t*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
    DWORD_PTR result = 0;
    if (!view || !SendMessageTimeoutA(window, kAttach, id, kInstanceSectionSize, SMTO_NORMAL, kCallTimeoutMs,
                                      &result) ||
        (result & 0xFFFF) != (id & 0xFFFF) || get32(view + kInstanceId) != id) {
        if (view) UnmapViewOfFile(view);
        CloseHandle(section);
        return false;
    }
    lib.window = window;
    lib.instanceId = id;
    lib.section = section;
    lib.view = view;
    return true;
}

// One CAPI call; the caller holds the lock of the block it filled.
DWORD call(uint32_t function) {
    Library& lib = *g_library;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(lib.window, kCall, function, lib.instanceId, SMTO_NORMAL, kCallTimeoutMs, &result))
        return kInfoNotInstalled;
    return DWORD(result & 0xFFFF);
}

uint8_t* callBlock() { return g_library->view + kCallBlock; }
uint8_t* getBlock() { return g_library->view + kGetBlock; }

std::shared_ptr<Application> find(DWORD applicationId) {
    Library& lib = *g_library;
    CHold hold(lib.tableLock);
    auto it = lib.applications.find(uint16_t(applicationId));
    if (applicationId > 0xFFFF || it == lib.applications.end()) return nullptr;
    return it->second;
}

DWORD release(uint16_t applicationId) {
    DWORD rc;
    {
        CHold hold(g_library->callLock);
        std::memset(callBlock(), 0, kBlockSize);
        put16(callBlock() + 4, applicationId);
        rc = call(kFnRelease);
    }
    return rc;
}

void forget(uint16_t applicationId) {
    Library& lib = *g_library;
    std::shared_ptr<Application> app;
    {
        CHold hold(lib.tableLock);
        auto it = lib.applications.find(applicationId);
        if (it == lib.applications.end()) return;
        app = it->second;
        lib.applications.erase(it);
    }
    SetEvent(app->released);
}

void detachAll() {
    Library& lib = *g_library;
    if (!lib.view) return;
    // Unloading: no other thread of this process may be inside the library any more.
    std::vector<uint16_t> ids;
    for (auto& entry : lib.applications) ids.push_back(entry.first);
    for (uint16_t id : ids) {
        release(id);
        forget(id);
    }
    DWORD_PTR result = 0;
    SendMessageTimeoutA(lib.window, kDetach, lib.instanceId, 0, SMTO_NORMAL, kCallTimeoutMs, &result);
    SendMessageTimeoutA(lib.window, kShutDown, 0, 0, SMTO_NORMAL, kCallTimeoutMs, &result);
    UnmapViewOfFile(lib.view);
    CloseHandle(lib.section);
    lib.view = nullptr;
}

void copyText(char* out, const uint8_t* text) {
    std::memcpy(out, text, kResultBufferSize);
    out[kResultBufferSize - 1] = 0;
}

}  // namespace

extern "C" {

DWORD WINAPI CAPI_REGISTER(DWORD messageBufferSize, DWORD maxLogicalConnection, DWORD maxBDataBlocks,
                           DWORD maxBDataLen, DWORD* applicationId) {
    if (!applicationId) return kInfoResources;
    *applicationId = 0;
    if (!attached()) return kNotInstalled;
    RegisterParams params;
    params.messageBufferSize = messageBufferSize;
    params.maxLogicalConnections = uint16_t(maxLogicalConnection);
    params.maxB3Blocks = uint16_t(maxBDataBlocks);
    params.maxB3DataLength = uint16_t(maxBDataLen);
    SlotGeometry geometry;
    if (maxLogicalConnection > 0xFFFF || maxBDataBlocks > 0xFFFF || maxBDataLen > 0xFFFF ||
        !slotGeometry(params, &geometry))
        return kInfoResources;
    DWORD rc;
    uint16_t id;
    {
        CHold hold(g_library->callLock);
        std::memset(callBlock(), 0, kBlockSize);
        writeRegisterParams(callBlock(), params);
        rc = call(kFnRegister);
        id = get16(g_library->view + kAppIdResult);
    }
    if (rc != 0) return rc;
    auto app = std::make_shared<Application>();
    if (!app->open(id, geometry)) {
        release(id);
        return kInfoResources;
    }
    {
        CHold hold(g_library->tableLock);
        g_library->applications[id] = app;
    }
    *applicationId = id;
    return 0;
}

DWORD WINAPI CAPI_RELEASE(DWORD applicationId) {
    if (!find(applicationId)) return kInfoUnknownApplication;
    DWORD rc = release(uint16_t(applicationId));
    if (rc == 0) forget(uint16_t(applicationId));
    return rc;
}

DWORD WINAPI CAPI_PUT_MESSAGE(DWORD applicationId, void* message) {
    stageclock::stamp(stageclock::kLibraryPut);
    std::shared_ptr<Application> app = find(applicationId);
    if (!app) return kInfoUnknownApplication;
    if (!message) return kInfoBadMessage;
    const uint8_t* in = static_cast<const uint8_t*>(message);
    uint16_t length = get16(in);
    if (length < 12 || length > kMessageAreaSize) return kInfoBadMessage;
    uint8_t copy[kMessageAreaSize];
    std::memcpy(copy, in, length);
    int64_t slot = -1;
    if (commandWord(copy) == kDataB3Req) {
        if (length < kDataB3MinLength) return kInfoBadParameter;
        uint16_t dataLength = get16(copy + kDataLength);
        if (dataLength > app->slots.size) return kInfoBadParameter;
        slot = app->takeTx(get32(copy + kNcci), get16(copy + kDataHandle));
        if (slot < 0) return kInfoQueueFull;
        // The application names its payload in either form (Data, or Data64 on a 64-bit platform);
        // towards the provider Data carries the slot index and Data64, if there, is cleared.
        const uint8_t* data = capib3::pointer(capib3::address(copy, length));
        if (dataLength && !data) {
            app->freeTx(size_t(slot));
            return kInfoBadParameter;
        }
        if (dataLength) std::memcpy(app->transmit.get() + size_t(slot) * app->slots.size, data, dataLength);
        capib3::name(copy, sizeof copy, length, uint32_t(slot), false);
    }
    DWORD rc;
    {
        CHold hold(g_library->callLock);
        std::memcpy(app->record.get() + kPutArea, copy, length);
        std::memset(callBlock(), 0, kBlockSize);
        put16(callBlock() + 4, app->id);
        rc = call(kFnPut);
    }
    if (rc != 0 && slot >= 0) app->freeTx(size_t(slot));
    return rc;
}

DWORD WINAPI CAPI_GET_MESSAGE(DWORD applicationId, void** message) {
    std::shared_ptr<Application> app = find(applicationId);
    if (!app) return kInfoUnknownApplication;
    if (!message) return kInfoBadMessage;
    DWORD rc;
    size_t n = 0;
    {
        CHold hold(g_library->getLock);
        std::memset(getBlock(), 0, kBlockSize);
        put16(getBlock() + 4, app->id);
        rc = call(kFnGet);
        if (rc == 0) {
            const uint8_t* area = app->record.get() + kGetArea;
            n = get16(area);
            if (n > kMessageAreaSize) n = kMessageAreaSize;
            std::memcpy(app->got, area, n);
        }
    }
    if (rc != 0) return rc;
    if (n < kHeaderSize) return kInfoMessageLost;
    uint8_t* got = app->got;
    put16(got, uint16_t(n));
    switch (commandWord(got)) {
    case kDataB3Ind: {
        if (n < kDataB3MinLength) return kInfoMessageLost;
        uint32_t index = get32(got + kData);
        if (index >= app->slots.count || get16(got + kDataLength) > app->slots.size) return kInfoMessageLost;
        // The slot's address in this process, in this platform's form.
        const uint8_t* slot = app->receive.get() + size_t(index) * app->slots.size;
        if (!capib3::name(got, sizeof app->got, uint16_t(n), capib3::addressOf(slot), capib3::kWideAddresses))
            return kInfoMessageLost;
        break;
    }
    case 0x8186:  // DATA_B3_CONF: its TX slot is free again
        if (n >= 14) app->confirmTx(get32(got + kNcci), get16(got + 12));
        break;
    case kDisconnectB3Ind:
        if (n >= 12) app->endTx(get32(got + kNcci));
        break;
    default:
        break;
    }
    *message = got;
    stageclock::stamp(stageclock::kLibraryGot);
    return 0;
}

DWORD WINAPI CAPI_WAIT_FOR_SIGNAL(DWORD applicationId) {
    std::shared_ptr<Application> app = find(applicationId);
    if (!app) return kInfoUnknownApplication;
    HANDLE handles[2] = {app->signal, app->released};
    DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    return r == WAIT_OBJECT_0 ? 0 : kInfoUnknownApplication;
}

DWORD WINAPI CAPI_GET_MANUFACTURER(char* text) {
    if (!text) return kInfoResources;
    text[0] = 0;
    if (!attached()) return kInfoNotInstalled;
    CHold hold(g_library->callLock);
    std::memset(callBlock(), 0, kBlockSize);
    DWORD rc = call(kFnManufacturer);
    copyText(text, g_library->view + kResultBuffer);
    return rc;
}

DWORD WINAPI CAPI_GET_VERSION(DWORD* capiMajor, DWORD* capiMinor, DWORD* makerMajor, DWORD* makerMinor) {
    uint16_t major = 0, minor = 0;
    DWORD rc = kInfoNotInstalled;
    if (attached()) {
        CHold hold(g_library->callLock);
        std::memset(callBlock(), 0, kBlockSize);  // selector 0: the two words, never the text
        rc = call(kFnVersion);
        minor = get16(callBlock() + 4);
        major = get16(callBlock() + 6);
    }
    if (capiMajor) *capiMajor = major >> 8;
    if (capiMinor) *capiMinor = major & 0xFF;
    if (makerMajor) *makerMajor = minor >> 8;
    if (makerMinor) *makerMinor = minor & 0xFF;
    return rc;
}

DWORD WINAPI CAPI_GET_SERIAL_NUMBER(char* text) {
    if (!text) return kInfoResources;
    text[0] = 0;
    if (!attached()) return kInfoNotInstalled;
    CHold hold(g_library->callLock);
    std::memset(callBlock(), 0, kBlockSize);
    DWORD rc = call(kFnSerialNumber);
    copyText(text, g_library->view + kResultBuffer);
    return rc;
}

DWORD WINAPI CAPI_GET_PROFILE(void* profile, DWORD controller) {
    if (!profile) return kInfoResources;
    std::memset(profile, 0, kResultBufferSize);
    if (!attached()) return kInfoNotInstalled;
    CHold hold(g_library->callLock);
    std::memset(callBlock(), 0, kBlockSize);
    put32(callBlock() + 8, controller);
    DWORD rc = call(kFnProfile);
    std::memcpy(profile, g_library->view + kResultBuffer, kResultBufferSize);
    return rc;
}

DWORD WINAPI CAPI_INSTALLED(void) { return attached() ? 0 : kNotInstalled; }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_library = new (std::nothrow) Library;
        // Stage stamps go to a measuring program's clock section when one is there.
        stageclock::attach();
        return g_library != nullptr;
    }
    if (reason == DLL_PROCESS_DETACH && g_library) {
        detachAll();
        delete g_library;
        g_library = nullptr;
    }
    return TRUE;
}
