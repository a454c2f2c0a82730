// portbridge's provider: the terminal-adapter provider (portbridge/provider) behind the window's
// provider interface, with link control, the CAPI engine, the timer service and serlink.ini.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "common/variant.h"
#include "portbridge/capi/provider_interface.h"
#include "portbridge/provider/ta_bindings.h"
#include "portbridge/provider/ta_provider.h"
#include "portbridge/mm_timer.h"
#include "portbridge/provider_window.h"
#include "portbridge/ta_config.h"

namespace {

using namespace pbprov;

// serlink.ini, read afresh for every open.
void readSerlinkIni(CTaPortSettings* s) {
    portbridge::CTaConfig config;
    config.readConfiguration();
    s->comPort = config.port.comPort;
    s->baudRate = config.port.baudRate;
    s->windowSize = config.link.windowSize;
    s->versionCommand = config.identification.versionCommand;
    s->versionAnswer = config.identification.versionAnswer;
    s->nameCommand = config.identification.nameCommand;
    s->nameAnswer = config.identification.nameAnswer;
    s->traceMessages = portbridge::messageTraceSwitch() != 0;
    s->b3Options = portbridge::b3OptionsWord();
}

// The provider's timers on the process's multimedia-timer list. A timer is named to the provider
// by its slot here; the list's callback argument is the slot.
class CTaMmTimers : public CTaTimerOps {
public:
    uint32_t startService(unsigned periodMs) override { return list().start(periodMs); }
    void stopService() override { list().stop(); }
    void* startTimer(unsigned ms, CTaTimerFn fn, void* context, bool periodic) override {
        std::lock_guard<std::mutex> lock(mutex_);
        for (uint32_t i = 0; i < kSlots; ++i) {
            if (slots_[i].used) continue;
            slots_[i] = Slot{fn, context, periodic, 0, true};
            slots_[i].handle = list().startTimer(ms, i, &CTaMmTimers::fired, periodic);
            if (!slots_[i].handle) {
                slots_[i].used = false;
                return nullptr;
            }
            return reinterpret_cast<void*>(static_cast<uintptr_t>(i + 1));
        }
        return nullptr;
    }
    void cancelTimer(void* timer) override {
        const uintptr_t i = reinterpret_cast<uintptr_t>(timer) - 1;
        if (!timer || i >= kSlots) return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (slots_[i].used) list().cancelTimer(slots_[i].handle);
        slots_[i].used = false;
    }

private:
    static constexpr uint32_t kSlots = portbridge::CMmTimerList::kTimers;
    struct Slot {
        CTaTimerFn fn = nullptr;
        void* context = nullptr;
        bool periodic = false;
        uint32_t handle = 0;
        bool used = false;
    };
    static portbridge::CMmTimerList& list() { return portbridge::CMmTimerList::instance(); }
    static CTaMmTimers* self;
    static void fired(portbridge::CMmTimer*, uint32_t slot) {
        if (!self || slot >= kSlots) return;
        Slot s;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            s = self->slots_[slot];
            if (!s.used) return;
            if (!s.periodic) self->slots_[slot].used = false;  // a one-shot is done
        }
        s.fn(s.context);
    }

public:
    CTaMmTimers() { self = this; }

private:
    std::mutex mutex_;
    Slot slots_[kSlots];
};

CTaMmTimers* CTaMmTimers::self = nullptr;

void postToWindow(void* window, uint32_t action, uint32_t portIndex) {
    if (window) PostMessageA(static_cast<HWND>(window), action, portIndex, 0);
}

class CTaProcessProvider : public CProviderInterface {
public:
    // portbridge's variant of the common classes, before any of them is made.
    CTaProcessProvider() : variant_((commonSetVariant(CommonVariant::portbridge), 0)) {}

    void start(void* window) override { provider_.start(window); }
    void shutDown() override { provider_.shutDown(); }
    uint32_t openPort(uint32_t portIndex) override { return provider_.openPort(portIndex); }
    uint32_t closePort(uint32_t portIndex) override { return provider_.closePort(portIndex); }

    uint16_t registerApplication(const shared::RegisterParams& params, uint16_t* applicationId) override {
        finishGet();
        CCapiCall c;
        c.function = kFnRegister;
        c.reg.bufferSize = params.messageBufferSize;
        c.reg.maxLogicalConnections = params.maxLogicalConnections;
        c.reg.maxB3Blocks = params.maxB3Blocks;
        c.reg.maxB3DataLength = params.maxB3DataLength;
        c.reg.version = params.version;
        c.reg.queueWord = params.queue;
        c.appIdResult = applicationId;
        return static_cast<uint16_t>(provider_.call(c));
    }
    uint16_t releaseApplication(uint16_t applicationId) override {
        finishGet();
        CCapiCall c;
        c.function = kFnRelease;
        c.appId = applicationId;
        uint16_t rc = static_cast<uint16_t>(provider_.call(c));
        if (applicationId < 17) signals_[applicationId] = Signal{};
        return rc;
    }
    uint16_t putMessage(uint16_t applicationId, const uint8_t* message, const uint8_t* b3Data) override {
        finishGet();
        CCapiCall c;
        c.function = kFnPut;
        c.appId = applicationId;
        c.message = message;
        c.messageSize = message ? static_cast<size_t>(message[0] | message[1] << 8) : 0;
        c.payload = b3Data;
        return static_cast<uint16_t>(provider_.call(c));
    }
    uint16_t getMessage(uint16_t applicationId, ProviderGotMessage* got) override {
        finishGet();
        CTaGot taken;
        CCapiCall c;
        c.function = kFnGet;
        c.appId = applicationId;
        c.got = &taken;
        uint16_t rc = static_cast<uint16_t>(provider_.call(c));
        if (got) {
            got->message = rc == 0 ? taken.message : nullptr;
            got->b3Data = rc == 0 ? taken.b3Data : nullptr;
        }
        // The message stays the engine's until the window side's next call.
        if (rc == 0) gotApp_ = applicationId;
        return rc;
    }
    uint16_t installSignal(uint16_t applicationId, ProviderSignalProc proc, uintptr_t context) override {
        if (applicationId == 0 || applicationId > 16) return kInfoUnknownApp;
        signals_[applicationId] = Signal{proc, context};
        CCapiCall c;
        c.function = kFnSignal;
        c.appId = applicationId;
        c.signal = &CTaProcessProvider::signal;
        c.signalContext = reinterpret_cast<uintptr_t>(this);
        return static_cast<uint16_t>(provider_.call(c));
    }
    uint16_t getManufacturer(char text[64]) override { return text64(kFnManufacturer, text); }
    uint16_t getVersion(uint16_t* majorWord, uint16_t* minorWord) override {
        finishGet();
        CCapiCall c;
        c.function = kFnVersion;
        c.majorVersion = majorWord;
        c.minorVersion = minorWord;
        return static_cast<uint16_t>(provider_.call(c));
    }
    uint16_t getVersionText(char text[64]) override {
        finishGet();
        CCapiCall c;
        c.function = kFnVersion;
        c.selector = 11;
        c.versionText = text;
        return static_cast<uint16_t>(provider_.call(c));
    }
    uint16_t getSerialNumber(char text[64]) override { return text64(kFnSerialNumber, text); }
    uint16_t getProfile(uint32_t controller, uint8_t profile[64]) override {
        finishGet();
        CCapiCall c;
        c.function = kFnProfile;
        c.controller = controller;
        c.resultBuffer = profile;
        return static_cast<uint16_t>(provider_.call(c));
    }

private:
    struct Signal {
        ProviderSignalProc proc = nullptr;
        uintptr_t context = 0;
    };
    static uint32_t signal(uint16_t appId, uintptr_t context) {
        auto* self = reinterpret_cast<CTaProcessProvider*>(context);
        if (appId == 0 || appId > 16) return 0;
        Signal s = self->signals_[appId];
        return s.proc ? s.proc(appId, s.context) : 0;
    }
    uint16_t text64(uint32_t function, char* text) {
        finishGet();
        CCapiCall c;
        c.function = function;
        c.resultBuffer = reinterpret_cast<uint8_t*>(text);
        return static_cast<uint16_t>(provider_.call(c));
    }
    // The last got message has been copied by now: its buffer goes back to the engine.
    void finishGet() {
        if (gotApp_) provider_.completeGet(gotApp_);
        gotApp_ = 0;
    }

    int variant_;
    CTaMmTimers timers_;
    std::unique_ptr<CTaLinkOps> link_{createStackLink()};
    std::unique_ptr<CTaEngineOps> engine_{createCapiEngine(&timers_)};
    CTaProvider provider_{link_.get(), &timers_, engine_.get(), &readSerlinkIni, &postToWindow};
    Signal signals_[17];
    uint16_t gotApp_ = 0;
};

}  // namespace

CProviderInterface& processProvider() {
    static CTaProcessProvider provider;
    return provider;
}
