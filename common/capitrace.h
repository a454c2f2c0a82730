// CCapiMessageTrace: one CAPI 2.0 message as readable trace lines (a main line, then sub-lines
// for numbers, protocols, compatibilities, X.25 NCPI, supplementary services, external-device
// control and information elements), written through an output procedure with a trace-class
// word, by default debugPrint (common/debug.h).
//
//   CCapiMessageTrace trace;                                  // the process's variant
//   CCapiMessageTrace pbTrace(CommonVariant::portbridge);     // portbridge's revision
//   trace.traceMessage(msg);                                  // 1 when the command is known
//
// Classes: 0xA5 main lines, 0x10001A5 sub-lines, 0x10002A5 B1 serial parameters, 0x10004A5
// DATA_B3 main lines, 0x08000000 the "bad NCPI coding" line. Every field is read within the
// message's length (and traceMessageBytes' size); a field outside reads as 0 or as empty.
// portbridge's revision has no INFO_IND information-element lines and no switches (DATA_B3 lines
// always print, nothing is dumped). One tracer must not trace two messages at once.
#pragma once

#include <cstdint>

#include "common/capimsg.h"
#include "common/common_api.h"
#include "common/cracker.h"
#include "common/tobject.h"
#include "common/variant.h"

// Takes (class word, format, arguments) like debugPrint.
typedef void (*CapiTraceOutputProc)(uint32_t traceClass, const char* format, ...);
// Receives the payload of a DATA_B3 request or indication instead of the dump.
typedef void (*CapiDataTraceHandler)(void* context, const void* data, unsigned length);

enum : uint32_t {
    kTraceClassMain = 0xA5,
    kTraceClassSub = 0x10001A5,
    kTraceClassB1 = 0x10002A5,
    kTraceClassDataB3 = 0x10004A5,
    kTraceClassError = 0x08000000,
};

class COMMON_API CCapiMessageTrace : public TObject {
public:
    CCapiMessageTrace();
    explicit CCapiMessageTrace(CommonVariant variant);
    ~CCapiMessageTrace() override;
    void shutDown() override;

    // Null selects debugPrint.
    void setOutputProc(CapiTraceOutputProc proc);
    // Traces one message bounded by its length field: 1 when the command is known, else 0.
    int traceMessage(const tagAPIMsg* message);
    int traceMessage(const tagAPIMsg* message, CapiTraceOutputProc proc);
    // The same for `size` received bytes (the length field may claim more).
    int traceMessageBytes(const void* bytes, unsigned size);

    void enableB3MessageTrace(int on);
    void enableMessageDump(int on);
    void enableB3DataDump(int request, int indication, unsigned limit);
    void installDataTraceHandler(CapiDataTraceHandler handler, void* context);
    void setTraceLevel(int level) { traceLevel_ = level; }
    int getTraceLevel() const { return traceLevel_; }
    CommonVariant variant() const { return variant_; }

    // The name tables: "unknown" past a table's end ("unknown supp function" for the services).
    static const char* getInfoString(unsigned code);  // "No info" for a code without a text
    static const char* getB1ProtocolString(unsigned protocol);
    static const char* getB2ProtocolString(unsigned protocol);
    static const char* getB3ProtocolString(unsigned protocol);
    static const char* getCipString(unsigned cip);
    static const char* getSuppServiceString(unsigned function);

private:
    int trace(const tagAPIMsg* message, unsigned bound);
    void line(uint32_t traceClass, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    // Bounded reads of the message: 0 outside it.
    uint8_t u8(unsigned offset) const;
    uint16_t u16(unsigned offset) const;
    uint32_t u32(unsigned offset) const;
    bool inside(unsigned offset, unsigned count) const;

    int traceRequest(uint16_t command);
    int traceConfirmation(uint16_t command);
    int traceIndication(uint16_t command);
    int traceResponse(uint16_t command);
    void traceManufacturer(uint8_t subCommand);
    void facilityLine(const char* what, uint16_t command);
    void numberLine(const char* label, char* (CMessageCracker::*getter)(char*, unsigned));
    void protocolLines();
    void structDump(const char* label, const tagCapiStruct* s);
    void ncpiLines(uint16_t command, unsigned offset);
    void infoElementLines();
    void infoMaskLines(uint32_t mask);
    void payload(bool request);

    CMessageCracker cracker_;
    CapiTraceOutputProc output_ = nullptr;
    char line_[256];
    int traceLevel_ = 0;
    CapiDataTraceHandler dataHandler_ = nullptr;
    void* dataContext_ = nullptr;
    char prefix_[16];
    int b3MessageTrace_ = 1;
    int messageDump_ = 0;
    int b3RequestDump_ = 0;
    int b3IndicationDump_ = 0;
    unsigned b3DumpLimit_ = 16;
    CommonVariant variant_;
    const uint8_t* bytes_ = nullptr;  // the message being traced, and how much of it is readable
    unsigned bound_ = 0;
};
