// Any bytes as a CAPI message for the tracer, in both revisions, with the message dump and the
// B3 trace on: every line stays inside the message and its buffers (the B3 payload, an address
// in the tracing process, goes to a handler that does not touch it).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "common/capitrace.h"
#include "common/debug.h"

namespace {

void Discard(const char* text) {
    if (std::strlen(text) >= static_cast<size_t>(kDebugLineSize)) std::abort();
}

void Ignore(void*, const void*, unsigned) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    debugInit("msgcore", 0xFFFFFFFF);
    debugCaptureOutput(Discard);
    const unsigned n = size > 0xFFFF ? 0xFFFF : static_cast<unsigned>(size);
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[n ? n : 1]);
    if (n) std::memcpy(bytes.get(), data, n);

    for (CommonVariant variant : {CommonVariant::msgcore, CommonVariant::portbridge}) {
        CCapiMessageTrace trace(variant);
        trace.enableMessageDump(1);
        trace.installDataTraceHandler(Ignore, nullptr);
        trace.traceMessageBytes(bytes.get(), n);
        if (n >= kCapiHeaderSize) {
            // With a true length field, through the form that trusts it.
            bytes[0] = static_cast<uint8_t>(n);
            bytes[1] = static_cast<uint8_t>(n >> 8);
            trace.traceMessage(reinterpret_cast<const tagAPIMsg*>(bytes.get()));
            if (n) std::memcpy(bytes.get(), data, n);
        }
    }
    return 0;
}
