// The provider of a program built without an adapter port: every registration and every identity
// request finds no adapter (0x1109), so clients see "not installed" rather than a provider that
// pretends. The terminal-adapter provider takes its place through processProvider().
#include "portbridge/provider_window.h"

namespace {

class CUnreachableProvider : public CProviderInterface {
public:
    void start(void*) override {}
    void shutDown() override {}
    uint32_t openPort(uint32_t) override { return 4; }
    uint32_t closePort(uint32_t) override { return 0; }
    uint16_t registerApplication(const shared::RegisterParams&, uint16_t* applicationId) override {
        *applicationId = 0;
        return shared::kInfoNotInstalled;
    }
    uint16_t releaseApplication(uint16_t) override { return shared::kInfoUnknownApplication; }
    uint16_t putMessage(uint16_t, const uint8_t*, const uint8_t*) override { return shared::kInfoUnknownApplication; }
    uint16_t getMessage(uint16_t, CapiGotMessage*) override { return shared::kInfoUnknownApplication; }
    uint16_t installSignal(uint16_t, CapiSignalProc, uintptr_t) override { return shared::kInfoUnknownApplication; }
    uint16_t getManufacturer(char text[64]) override { text[0] = 0; return shared::kInfoNotInstalled; }
    uint16_t getVersion(uint16_t* major, uint16_t* minor) override {
        *major = *minor = 0;
        return shared::kInfoNotInstalled;
    }
    uint16_t getVersionText(char text[64]) override { text[0] = 0; return 0; }
    uint16_t getSerialNumber(char text[64]) override { text[0] = 0; return shared::kInfoNotInstalled; }
    uint16_t getProfile(uint32_t, uint8_t profile[64]) override {
        for (int i = 0; i < 64; ++i) profile[i] = 0;
        return shared::kInfoNotInstalled;
    }
};

}  // namespace

CProviderInterface& processProvider() {
    static CUnreachableProvider provider;
    return provider;
}
