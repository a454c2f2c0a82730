// A CCapiPort with no CAPI library behind it, for tests and fuzzing: registering, the signal
// handler and releasing do nothing and succeed, buffers come from the heap. What the handlers send
// is the derived class's putMessage. No Windows header.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "msgcore/capi_port.h"

class COfflineCapiPort : public CCapiPort {
public:
    explicit COfflineCapiPort(uint32_t applicationId) { applicationId_ = applicationId; }
    // Shut down here, where the buffer calls below still exist.
    ~COfflineCapiPort() override { shutDown(); }

    uint16_t getManufacturer(char*) override { return 0; }
    uint16_t getVersion(char*) override { return 0; }
    tagAPIMsg* getMessage() override { return nullptr; }
    uint16_t installSignalHandler(uint32_t, uint32_t) override { return 0; }
    uint16_t create(uintptr_t, uintptr_t) override { return 0; }
    uint16_t registerApplication(void*, uint16_t, uint16_t, uint16_t, uint16_t) override { return 0; }
    uint16_t releaseApplication() override { return 0; }
    void* allocBuffer(uint32_t size) override { return std::calloc(1, size); }
    void freeBuffer(void* p, uint32_t) override { std::free(p); }
};
