// The named objects portbridge shares with the system's CAPI library:
//
//   CAppSharedMemory    one page-file section and its view, created or opened by name
//   CSharedApplication  the objects of one registered application: the record "AP", the slots
//                       "TX" and "RX", the request event and the signal semaphore
//   CSharedInstance     that, with the receive-slot bookkeeping and the put and get of the CAPI
//                       call (the record's put and get areas, B3 data through the slots)
//
// Everything here runs on the provider's main thread, except the signal procedure, which the
// provider calls on its own threads. The client owns the bytes, so every value read from a view
// is read once into our memory and checked before use.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/tobject.h"
#include "portbridge/capi/provider_interface.h"
#include "portbridge/capi/shared_layout.h"

class CAppSharedMemory : public CDoubleListNode {
public:
    CAppSharedMemory() { name_ = "CAppSharedMemory"; }
    ~CAppSharedMemory() override;
    CAppSharedMemory(const CAppSharedMemory&) = delete;
    CAppSharedMemory& operator=(const CAppSharedMemory&) = delete;

    // Creates the section (zero-filled) or opens the existing one of that name, and maps all of
    // it. False, holding nothing, when the mapping or the view fails or when fewer than `needed`
    // bytes are mapped (an existing section may be smaller than asked for).
    bool open(const std::string& name, uint32_t size, size_t needed);
    // open() with the name "%.08x" of the instance id.
    bool openInstance(uint32_t instanceId, uint32_t size);
    void close();

    uint8_t* view() const { return view_; }
    bool existed() const { return existed_; }

private:
    HANDLE section_ = nullptr;
    uint8_t* view_ = nullptr;
    bool existed_ = false;
};

class CSharedApplication : public CDoubleListNode {
public:
    CSharedApplication() { name_ = "CSharedApplication"; }
    ~CSharedApplication() override;  // the event and the semaphore, then the three sections
    CSharedApplication(const CSharedApplication&) = delete;
    CSharedApplication& operator=(const CSharedApplication&) = delete;

    // The application's objects from its register parameters: 0, or 0x1108.
    virtual uint16_t createFromRegister(CProviderInterface& provider, uint16_t applicationId,
                                        const shared::RegisterParams& params);
    uint16_t applicationId() const { return applicationId_; }
    const shared::SlotGeometry& geometry() const { return geometry_; }

protected:
    // Copies the payload of the DATA_B3_IND in the get area into a receive slot: false when no
    // slot is free.
    virtual bool storeIndicationData(uint8_t* message, const uint8_t* payload) = 0;
    // The address of TX slot `index` (checked by the caller).
    virtual const uint8_t* resolveTransmitSlot(uint32_t index) = 0;
    // The sections, the id and the slot size in the record, the semaphore: 0 or 0x1108.
    virtual uint16_t init(CProviderInterface& provider, uint16_t applicationId, const shared::SlotGeometry& geometry);
    virtual void createSignalObject() = 0;

    uint8_t* record() const { return record_.view(); }

    uint16_t applicationId_ = 0;
    shared::SlotGeometry geometry_;
    CAppSharedMemory record_;
    CAppSharedMemory transmit_;
    CAppSharedMemory receive_;
    HANDLE requestEvent_ = nullptr;
    HANDLE signal_ = nullptr;
};

class CSharedInstance : public CSharedApplication {
public:
    CSharedInstance() { name_ = "CSharedInstance"; }

    // The put of function 3, prepare and complete in one: the message is copied out of the put
    // area and checked, a DATA_B3_REQ's slot index becomes the slot's address, a DATA_B3_RESP
    // frees the slot of its data handle, the provider gets the copy. The request event is set
    // whatever the result.
    uint16_t put(CProviderInterface& provider, uint8_t* block);
    // The get of function 4: the provider's message is copied into the get area (cut to 282
    // bytes), a DATA_B3_IND's payload into the next free receive slot. 0x1105 when no slot is
    // free: the indication is lost, never handed on with an address of ours. The request event
    // is set after a successful get.
    uint16_t get(CProviderInterface& provider, uint8_t* block);

    int32_t freeSlots() const { return slots_.freeCount(); }

protected:
    uint16_t init(CProviderInterface& provider, uint16_t applicationId, const shared::SlotGeometry& geometry) override;
    bool storeIndicationData(uint8_t* message, const uint8_t* payload) override;
    const uint8_t* resolveTransmitSlot(uint32_t index) override;
    void createSignalObject() override;

private:
    static uint32_t signalProc(uint32_t applicationId, uintptr_t context);

    shared::CReceiveSlotTable slots_;
};
