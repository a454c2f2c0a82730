// portbridge's provider: the terminal-adapter provider (portbridge/provider) behind the window's
// provider interface, with link control, the CAPI engine, the timer service and serlink.ini.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/variant.h"
#include "portbridge/capi/provider_interface.h"
#include "portbridge/provider/ta_bindings.h"
#include "portbridge/provider/ta_provider.h"
#include "portbridge/provider/thread_timers.h"
#include "portbridge/provider_window.h"

namespace {

using namespace pbprov;

constexpr const char* kSettingsFile = "SERLINK.INI";

// A hexadecimal key: the default in decimal digits when the key is missing, "0x" put in front
// when the value lacks it.
uint32_t readHex(const char* section, const char* key, unsigned long fallback) {
    char def[32], value[64];
    std::snprintf(def, sizeof(def), "%lu", fallback);
    GetPrivateProfileStringA(section, key, def, value, sizeof(value), kSettingsFile);
    const char* digits = (value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) ? value + 2 : value;
    return static_cast<uint32_t>(std::strtoul(digits, nullptr, 16));
}

std::string readText(const char* section, const char* key, size_t maxChars) {
    char value[512];
    GetPrivateProfileStringA(section, key, "", value, sizeof(value), kSettingsFile);
    std::string text(value);
    if (text.size() > maxChars) text.resize(maxChars);
    return text;
}

void readSerlinkIni(CTaPortSettings* s) {
    s->windowSize = static_cast<uint8_t>(GetPrivateProfileIntA("HDLC", "windowSize", 4, kSettingsFile));
    s->comPort = GetPrivateProfileIntA("COMM", "comPort", 2, kSettingsFile);
    // Commands fit 7 characters and answers 79: longer ones are cut.
    s->versionCommand = readText("COMM", "VersionCmd", 7);
    s->versionAnswer = readText("COMM", "Version", 79);
    s->nameCommand = readText("COMM", "TaNameCmd", 7);
    s->nameAnswer = readText("COMM", "TaName", 79);
    char rate[32];
    if (GetPrivateProfileStringA("COMM", "baudRate", "115200", rate, sizeof(rate), kSettingsFile) > 0)
        s->baudRate = static_cast<uint32_t>(std::strtoul(rate, nullptr, 10));
    else
        s->baudRate = 115200;
    s->traceMessages = readHex("DEBUG", "traceCapiMessage", 0) != 0;
    readHex("DEBUG", "traceCapi", 0);  // accepted; switches nothing
    uint32_t options = 0;
    switch (readHex("CAPI", "dataB3Transparent", 1)) {
    case 1: options |= 0x1; break;
    case 2: options |= 0x2; break;
    default: break;
    }
    switch (readHex("CAPI", "dataB3Confirmation", 1)) {
    case 1: options |= 0x9; break;
    case 2: options |= 0xA; break;
    default: break;
    }
    s->b3Options = options;
}

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
    CThreadTimers timers_;
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
