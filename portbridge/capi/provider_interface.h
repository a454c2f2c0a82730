// What the provider window asks of the CAPI provider behind it. The window side reads every
// parameter block once from the client's instance section, checks it, turns slot indices into
// addresses of its own and calls one of these on the main thread, one call at a time; results
// are CAPI 2.0 info values. No client value ever reaches the provider as an address.
#pragma once

#include <cstdint>

#include "portbridge/capi/shared_layout.h"

// Called by the provider once per message it queues for the application (on any thread); the
// context is the one given to installSignal. Returns 0, or a system error.
typedef uint32_t (*ProviderSignalProc)(uint32_t applicationId, uintptr_t context);

// A message taken by getMessage. Both pointers stay valid until the next call of the provider.
struct ProviderGotMessage {
    const uint8_t* message = nullptr;  // the whole message, its length in its first word
    // For a DATA_B3_IND: the payload in the provider's memory (DataLength bytes of it readable),
    // else null.
    const uint8_t* b3Data = nullptr;
};

class CProviderInterface {
public:
    virtual ~CProviderInterface() = default;

    // Process start, with the provider window (an HWND). A failure is the provider's own business.
    virtual void start(void* window) = 0;
    // The idle shut-down: every port closed, timers stopped. The process ends after it.
    virtual void shutDown() = 0;

    // Window messages of the adapter port: result 0, the port's open result, or 4 for no port.
    virtual uint32_t openPort(uint32_t portIndex) = 0;
    virtual uint32_t closePort(uint32_t portIndex) = 0;

    // Function 1. On 0, *applicationId holds the new id (1 to 16). The window side then builds
    // the application's shared objects and installs their signal procedure; when that fails it
    // releases the application again.
    virtual uint16_t registerApplication(const shared::RegisterParams& params, uint16_t* applicationId) = 0;
    // Function 2.
    virtual uint16_t releaseApplication(uint16_t applicationId) = 0;
    // Function 3. `message` is a checked copy (length 12..282); for a DATA_B3_REQ its Data field
    // holds the low 32 bits of `b3Data`, the payload in the TX slot (DataLength bytes, within the
    // slot), else b3Data is null. The copy lives only for the call: the provider copies what it
    // keeps.
    virtual uint16_t putMessage(uint16_t applicationId, const uint8_t* message, const uint8_t* b3Data) = 0;
    // Function 4: 0 with the message, 0x1104 when the queue is empty, or a pending error.
    virtual uint16_t getMessage(uint16_t applicationId, ProviderGotMessage* got) = 0;
    // Function 5, made by the window side itself for every new application.
    virtual uint16_t installSignal(uint16_t applicationId, ProviderSignalProc proc, uintptr_t context) = 0;

    // Functions 240 to 243; text and profile results are 64 bytes.
    virtual uint16_t getManufacturer(char text[64]) = 0;
    // The major word (CAPI version: major in the high byte, minor in the low one) and the minor
    // word (the maker's version, the same way).
    virtual uint16_t getVersion(uint16_t* majorWord, uint16_t* minorWord) = 0;
    // Selector 11 of function 241: the provider's version text (may be empty).
    virtual uint16_t getVersionText(char text[64]) = 0;
    virtual uint16_t getSerialNumber(char text[64]) = 0;
    virtual uint16_t getProfile(uint32_t controller, uint8_t profile[64]) = 0;
};
