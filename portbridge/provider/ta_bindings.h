// The provider's interfaces bound to the real parts: link control (portbridge/stack) and the CAPI
// engine (portbridge/capi). No Windows header; the timer service and the window are bound in the
// program.
#pragma once

#include <atomic>
#include <cstdint>

#include "portbridge/capi/capi_engine.h"
#include "portbridge/provider/ta_port.h"
#include "portbridge/provider/ta_services.h"
#include "portbridge/stack/runtime_message.h"

namespace pbprov {

// Link control's operations. The serial device is "\\.\COM<n>", which reaches every port number.
class CTaStackLink : public CTaLinkOps {
public:
    bool startRuntime(const CTaPortSettings& settings, CTaIndicationFn fn, void* context) override;
    bool bringUpLink(const CTaPortSettings& settings) override;
    uint32_t connectLink(uint8_t reactivation) override;
    uint32_t sendLinkRequest(uint16_t id) override;
    bool sendLinkData(const uint8_t* data, size_t length) override;
    void runtimeTick() override;
    void shutDownLink() override;

private:
    static void indication(void* context, const stack::RuntimeMessage& message);
    CTaIndicationFn fn_ = nullptr;
    void* context_ = nullptr;
};

// The CAPI engine's application table, its port links and its pacing timer.
class CTaEngine : public CTaEngineOps, public CCapiEngineHost {
public:
    explicit CTaEngine(CTaTimerOps* timers) : timers_(timers) {}
    ~CTaEngine() override;

    uint32_t createTable(unsigned applications, unsigned plcis, unsigned nccis, unsigned buffers) override;
    void destroyTable() override;
    void setPort(unsigned index, CTaPort* port) override;
    void addB3Options(uint32_t bits) override { table_.addB3Options(bits); }
    uint32_t registerApplication(const CTaRegisterParams& params, uint16_t* appId) override;
    uint32_t releaseApplication(uint16_t appId) override { return table_.releaseApplication(appId); }
    uint32_t putMessage(uint16_t appId, const uint8_t* message, size_t size, const uint8_t* payload) override {
        return table_.putMessage(appId, message, size, payload);
    }
    uint32_t getMessage(uint16_t appId, CTaGot* got) override;
    void completeGet(uint16_t appId) override { table_.completeGet(appId); }
    uint32_t installSignal(uint16_t appId, CTaSignalFn fn, uintptr_t context) override {
        return table_.installSignal(appId, fn, context);
    }
    bool knowsApplication(uint16_t appId) override;
    uint32_t requestIdentity(unsigned port, uint8_t* record) override {
        return table_.requestIdentity(static_cast<uint8_t>(port), record);
    }
    void adapterMessage(unsigned port, const uint8_t* message, size_t size) override {
        table_.adapterMessage(static_cast<uint8_t>(port), message, size);
    }
    void dataSent(const uint8_t* message, size_t size) override { table_.dataSent(message, size); }
    void linkUp(unsigned port) override { table_.linkUp(static_cast<uint8_t>(port)); }
    void linkDown(unsigned port) override { table_.linkDown(static_cast<uint8_t>(port)); }

    // CCapiEngineHost
    void startPacingTimer() override;
    void stopPacingTimer() override;
    uint32_t nowMs() override;

    CCapiAppTable& table() { return table_; }

private:
    // The engine's view of one port: a message is taken only while the port is connected.
    class PortLink : public CCapiPortLink {
    public:
        CTaPort* port = nullptr;
        uint16_t sendAdapterMessage(const uint8_t* message, uint16_t length, const uint8_t* payload,
                                    uint16_t payloadLength) override;
    };
    static void pacingExpired(void* context);

    CTaTimerOps* timers_;
    CCapiAppTable table_;
    PortLink links_[5];
    std::atomic<void*> pacingTimer_{nullptr};
};

}  // namespace pbprov
