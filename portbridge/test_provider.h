// The test provider behind the provider window (test_provider.cpp tells what it does).
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <vector>

#include "portbridge/capi/provider_interface.h"

class CTestProvider : public CProviderInterface {
public:
    CTestProvider() = default;
    ~CTestProvider() override;
    CTestProvider(const CTestProvider&) = delete;
    CTestProvider& operator=(const CTestProvider&) = delete;

    void setLog(const char* path);
    // Every registration answers this (0: served).
    void setRegisterResult(uint16_t info) { registerResult_ = info; }

    void start(void* window) override;
    void shutDown() override;
    uint32_t openPort(uint32_t portIndex) override;
    uint32_t closePort(uint32_t portIndex) override;
    uint16_t registerApplication(const shared::RegisterParams& params, uint16_t* applicationId) override;
    uint16_t releaseApplication(uint16_t applicationId) override;
    uint16_t putMessage(uint16_t applicationId, const uint8_t* message, const uint8_t* b3Data) override;
    uint16_t getMessage(uint16_t applicationId, ProviderGotMessage* got) override;
    uint16_t installSignal(uint16_t applicationId, ProviderSignalProc proc, uintptr_t context) override;
    uint16_t getManufacturer(char text[64]) override;
    uint16_t getVersion(uint16_t* majorWord, uint16_t* minorWord) override;
    uint16_t getVersionText(char text[64]) override;
    uint16_t getSerialNumber(char text[64]) override;
    uint16_t getProfile(uint32_t controller, uint8_t profile[64]) override;

private:
    struct Queued {
        std::vector<uint8_t> message;
        std::vector<uint8_t> data;
    };
    struct App {
        bool used = false;
        ProviderSignalProc signal = nullptr;
        uintptr_t context = 0;
        uint16_t nextHandle = 1;
        bool holdConfirmations = false;  // DATA_B3_REQ are taken and never confirmed
        std::deque<Queued> queue;
    };
    static constexpr uint16_t kApps = 8;

    App* app(uint16_t id);
    void queue(App& a, uint16_t applicationId, std::vector<uint8_t> message, std::vector<uint8_t> data);
    void log(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    App apps_[kApps];
    Queued current_;  // the message last got, kept until the next get
    uint16_t registerResult_ = 0;
    std::FILE* log_ = nullptr;
};
