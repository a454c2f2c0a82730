// CCapiProvider / CTaProvider: the one CAPI provider of portbridge. It owns the CAPI engine's
// application table and the port list (indices 1 to 4), serves the call entry for the function
// codes 1 to 5 and 240 to 243, opens and closes the terminal adapter, and fetches the adapter's
// identity once.
//
// Threads. The call entry, open and close run on the window thread. Indications come from the
// port on the runtime thread. The engine holds its own lock around each of its entries; the port
// never makes it wait for link control (its writer thread hands data over). Timer callbacks never
// do the provider's work themselves: the deferred open is posted to the window.
//
//   CTaProvider provider(link, timers, engine, readSettings, post);
//   provider.start(window);
//   provider.call(call);            // from the window procedure
//   provider.shutDown();            // on the window thread
//
// No Windows header.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "common/capitrace.h"
#include "common/tobject.h"
#include "portbridge/provider/ta_identity.h"
#include "portbridge/provider/ta_port.h"
#include "portbridge/provider/ta_services.h"

namespace pbprov {

enum CapiFunction : uint32_t {
    kFnRegister = 1,
    kFnRelease = 2,
    kFnPut = 3,
    kFnGet = 4,
    kFnSignal = 5,
    kFnManufacturer = 240,
    kFnVersion = 241,
    kFnSerialNumber = 242,
    kFnProfile = 243,
};

constexpr uint32_t kOpenPortAction = 0x468;  // the window's open-port message
constexpr size_t kPutMin = 12;
constexpr size_t kPutMax = 282;

// One call as the window side decoded it from the parameter block; every pointer is in this
// process and was set by the window side.
struct CCapiCall {
    uint32_t function = 0;
    uint16_t appId = 0;
    // 1
    CTaRegisterParams reg;
    uint16_t* appIdResult = nullptr;
    // 3: the message (put area) and, for DATA_B3_REQ, its payload in the transmit slot
    const uint8_t* message = nullptr;
    size_t messageSize = 0;
    const uint8_t* payload = nullptr;
    size_t payloadLength = 0;
    // 4: the taken message, valid until completeGet
    CTaGot* got = nullptr;
    // 5
    CTaSignalFn signal = nullptr;
    uintptr_t signalContext = 0;
    // 240, 242, 243: 64 bytes; 243 also the controller
    uint8_t* resultBuffer = nullptr;
    uint32_t controller = 0;
    // 241
    uint16_t selector = 0;
    uint16_t* majorVersion = nullptr;
    uint16_t* minorVersion = nullptr;
    char* versionText = nullptr;  // 64 bytes, selector 11
};

// Reads serlink.ini for one open.
using CTaSettingsFn = void (*)(CTaPortSettings* settings);
// Posts an action code to the provider's window (its open-port message with port index 1).
using CTaPostFn = void (*)(void* window, uint32_t action, uint32_t portIndex);

class CCapiProvider : public TObject {
public:
    CCapiProvider();
    ~CCapiProvider() override;

    virtual uint32_t call(CCapiCall& call);
    // Version words and texts the base answers with.
    virtual uint32_t manufacturer(uint8_t* out);
    virtual uint32_t version(uint16_t* major, uint16_t* minor);
    virtual uint32_t serialNumber(uint8_t* out);
    virtual uint32_t profile(uint32_t controller, uint8_t* out);

    // After function 4 with result 0, once the message has been copied.
    void completeGet(uint16_t appId);

    int registeredCount() const { return registered_; }
    static const char* versionText() { return ""; }

protected:
    uint32_t baseCall(CCapiCall& call);
    void traceMessage(const uint8_t* message, size_t size);

    CTaEngineOps* engine_ = nullptr;
    char manufacturerText_[48] = {};
    int registered_ = 0;
    bool traceMessages_ = false;
    CCapiMessageTrace tracer_{CommonVariant::portbridge};
};

class CTaProvider : public CCapiProvider {
public:
    CTaProvider(CTaLinkOps* link, CTaTimerOps* timers, CTaEngineOps* engine, CTaSettingsFn readSettings,
                CTaPostFn post);
    ~CTaProvider() override;
    void shutDown() override;

    // Start-up with the window: the timer service, the application table (8, 8, 4, 50) and port 1.
    // 0, 3 when the table cannot be made, 20 without a port.
    uint32_t start(void* window);
    uint32_t init(unsigned applications, unsigned plcis, unsigned nccis, unsigned buffers);
    // 0, 85 for an index outside 1 to 4, 86 when it is taken.
    uint32_t addPort(unsigned index, CTaPort* port);

    uint32_t call(CCapiCall& call) override;
    uint32_t manufacturer(uint8_t* out) override;
    uint32_t version(uint16_t* major, uint16_t* minor) override;
    uint32_t serialNumber(uint8_t* out) override;
    uint32_t profile(uint32_t controller, uint8_t* out) override;

    // The window's open-port and close-port messages. Open: 0, the port's failure, 4 without
    // such a port.
    uint32_t openPort(unsigned index);
    uint32_t closePort(unsigned index);
    bool portOpen() const { return portOpen_.load(); }
    CTaPort* port(unsigned index);

    // The deferred action: a second one while one is pending is ignored.
    void deferAction(uint32_t action, unsigned ms);
    void cancelDeferred();
    bool deferredPending();

    void fetchIdentity();
    const CTaIdentity& identity() const { return identity_; }
    void setPortTiming(const CTaPort::Timing& timing);

    // For tests: the indication procedure as the port calls it.
    void portIndication(unsigned index, const CTaPortMessage& message);

private:
    struct PortRecord {
        CTaPort* port = nullptr;
        bool linkUp = false;
        bool present = false;
    };

    static void portIndicationProc(void* context, unsigned index, const CTaPortMessage& message);
    static void deferredExpired(void* context);
    // A CONNECT_REQ or LISTEN_REQ (CAPI 2.0 or 1.1 form).
    static bool startsACall(const CCapiCall& c);
    PortRecord* record(unsigned index);

    CTaLinkOps* link_;
    CTaTimerOps* timers_;
    CTaSettingsFn readSettings_;
    CTaPostFn post_;
    void* window_ = nullptr;
    bool tableMade_ = false;
    bool started_ = false;
    std::atomic<bool> portOpen_{false};
    PortRecord ports_[5];
    CTaIdentity identity_;

    std::mutex deferredMutex_;
    uint32_t deferredAction_ = 0;
    void* deferredTimer_ = nullptr;
};

}  // namespace pbprov
