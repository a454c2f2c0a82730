// A provider for the process tests: eight applications, a message queue each, B3 data looped back
// (every DATA_B3_REQ gets its DATA_B3_CONF and returns as a DATA_B3_IND), test commands in
// MANUFACTURER_REQ with the id "test", fixed identity answers, and one log line per call in a
// file the test reads.
//
// Test commands (MANUFACTURER_REQ, "test" at 12, the command word at 16):
//   1  DATA_B3_IND for the NCCI at 8: u16 length at 18, first byte at 20 (then counting up),
//      u8 count of indications at 21
//   2  MANUFACTURER_IND of the u16 length at 18 (the bytes count up from its header)
#include "portbridge/test_provider.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

using namespace shared;

CTestProvider::~CTestProvider() {
    if (log_) std::fclose(log_);
}

void CTestProvider::setLog(const char* path) { log_ = std::fopen(path, "w"); }

void CTestProvider::log(const char* format, ...) {
    if (!log_) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(log_, format, args);
    va_end(args);
    std::fputc('\n', log_);
    std::fflush(log_);
}

// Both name their thread: the shut-down must run where the provider started.
void CTestProvider::start(void*) { log("start %lu", GetCurrentThreadId()); }
void CTestProvider::shutDown() { log("shutdown %lu", GetCurrentThreadId()); }

uint32_t CTestProvider::openPort(uint32_t portIndex) {
    log("open %u", unsigned(portIndex));
    return portIndex == 1 ? 0 : 4;
}

uint32_t CTestProvider::closePort(uint32_t portIndex) {
    log("close %u", unsigned(portIndex));
    return 0;
}

CTestProvider::App* CTestProvider::app(uint16_t id) {
    if (id < 1 || id > kApps || !apps_[id - 1].used) return nullptr;
    return &apps_[id - 1];
}

uint16_t CTestProvider::registerApplication(const RegisterParams& p, uint16_t* applicationId) {
    log("register %u %u %u v%u q%u", unsigned(p.maxLogicalConnections), unsigned(p.maxB3Blocks),
        unsigned(p.maxB3DataLength), unsigned(p.version), unsigned(p.queue));
    *applicationId = 0;
    if (registerResult_) return registerResult_;
    for (uint16_t i = 0; i < kApps; ++i)
        if (!apps_[i].used) {
            apps_[i] = App();
            apps_[i].used = true;
            *applicationId = uint16_t(i + 1);
            log("registered %u", unsigned(i + 1));
            return 0;
        }
    return kInfoUnknownApplication;
}

uint16_t CTestProvider::releaseApplication(uint16_t applicationId) {
    log("release %u", unsigned(applicationId));
    App* a = app(applicationId);
    if (!a) return kInfoUnknownApplication;
    *a = App();
    return 0;
}

uint16_t CTestProvider::installSignal(uint16_t applicationId, ProviderSignalProc proc, uintptr_t context) {
    log("signal %u", unsigned(applicationId));
    App* a = app(applicationId);
    if (!a) return kInfoUnknownApplication;
    a->signal = proc;
    a->context = context;
    return 0;
}

void CTestProvider::queue(App& a, uint16_t applicationId, std::vector<uint8_t> message, std::vector<uint8_t> data) {
    put16(&message[0], uint16_t(message.size()));
    put16(&message[2], applicationId);
    a.queue.push_back({std::move(message), std::move(data)});
    if (a.signal) a.signal(applicationId, a.context);
}

uint16_t CTestProvider::putMessage(uint16_t applicationId, const uint8_t* m, const uint8_t* b3Data) {
    uint16_t length = get16(m);
    log("put %u %04x %u", unsigned(applicationId), unsigned(commandWord(m)), unsigned(length));
    App* a = app(applicationId);
    if (!a) return kInfoUnknownApplication;
    if (commandWord(m) == kDataB3Req) {
        uint32_t ncci = get32(m + kNcci);
        uint16_t dataLength = get16(m + kDataLength), handle = get16(m + kDataHandle);
        std::vector<uint8_t> conf(16, 0);
        conf[4] = 0x86;
        conf[5] = 0x81;
        put16(&conf[6], get16(m + 6));
        put32(&conf[8], ncci);
        put16(&conf[12], handle);
        if (!a->holdConfirmations) queue(*a, applicationId, conf, {});
        std::vector<uint8_t> ind(kDataB3MinLength, 0);
        ind[4] = 0x86;
        ind[5] = 0x82;
        put32(&ind[kNcci], ncci);
        put16(&ind[kDataLength], dataLength);
        put16(&ind[kDataHandle], a->nextHandle++);
        queue(*a, applicationId, ind, std::vector<uint8_t>(b3Data, b3Data + dataLength));
        return 0;
    }
    if (commandWord(m) == 0x80FF && length >= 22 && std::memcmp(m + 12, "test", 4) == 0) {
        uint16_t command = get16(m + 16), n = get16(m + 18);
        if (command == 1 || command == 5) {
            for (unsigned k = 0; k < m[21]; ++k) {
                std::vector<uint8_t> ind(kDataB3MinLength, 0), data(n);
                for (uint16_t i = 0; i < n; ++i) data[i] = uint8_t(m[20] + i);
                ind[4] = 0x86;
                ind[5] = command == 5 ? 0x02 : 0x82;  // 5: the CAPI 1.1 subcommand
                put32(&ind[kNcci], get32(m + kNcci));
                put16(&ind[kDataLength], n);
                put16(&ind[kDataHandle], a->nextHandle++);
                queue(*a, applicationId, ind, data);
            }
        } else if (command == 2 && n >= 12) {
            std::vector<uint8_t> ind(n);
            for (uint16_t i = 8; i < n; ++i) ind[i] = uint8_t(i);
            ind[4] = 0xFF;
            ind[5] = 0x82;
            queue(*a, applicationId, ind, {});
        } else if (command == 3) {
            std::vector<uint8_t> ind(15, 0);  // DISCONNECT_B3_IND, reason 0, no NCPI
            ind[4] = 0x84;
            ind[5] = 0x82;
            put32(&ind[kNcci], get32(m + kNcci));
            queue(*a, applicationId, ind, {});
        } else if (command == 4) {
            a->holdConfirmations = n != 0;
        }
    }
    return 0;
}

uint16_t CTestProvider::getMessage(uint16_t applicationId, ProviderGotMessage* got) {
    App* a = app(applicationId);
    if (!a) return kInfoUnknownApplication;
    if (a->queue.empty()) return kInfoQueueEmpty;
    current_ = a->queue.front();
    a->queue.pop_front();
    log("get %u %04x", unsigned(applicationId), unsigned(commandWord(current_.message.data())));
    got->message = current_.message.data();
    got->b3Data = current_.data.empty() ? nullptr : current_.data.data();
    return 0;
}

uint16_t CTestProvider::getManufacturer(char text[64]) {
    std::snprintf(text, 64, "Test provider");
    return 0;
}

uint16_t CTestProvider::getVersion(uint16_t* majorWord, uint16_t* minorWord) {
    *majorWord = 0x0200;
    *minorWord = 0x0107;
    return 0;
}

uint16_t CTestProvider::getVersionText(char text[64]) {
    std::snprintf(text, 64, "test 1.0");
    return 0;
}

uint16_t CTestProvider::getSerialNumber(char text[64]) {
    std::snprintf(text, 64, "0815");
    return 0;
}

uint16_t CTestProvider::getProfile(uint32_t controller, uint8_t profile[64]) {
    std::memset(profile, 0, 64);
    if (controller == 0) {
        put16(profile, 1);
        return 0;
    }
    for (int i = 0; i < 64; ++i) profile[i] = uint8_t(i + 1);
    return 0;
}
