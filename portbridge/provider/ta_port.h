// CTaPort: the terminal-adapter port, between the CAPI engine and the protocol-stack runtime.
// It starts the runtime and brings the link up (open), asks link control for the data link and
// waits for it (connect), releases it (disconnect), sends CAPI messages as data (put), and turns
// the runtime's indications into calls of the provider's indication procedure.
//
// States: 0 closed or released, 1 opening, 2 failed, 3 a request waits for its confirmation,
// 4 connected. Open, connect, disconnect and put run on the window thread and block it during the
// waits; the runtime callback runs on the runtime thread and only touches the result, the wait
// event and the provider's indication procedure.
//
// A request's wait completes on the indication that answers it: connect with 0 on 641 (link up)
// and 88 on 642 or 649; disconnect with 0 on either. 645 (a link reset, followed by 641) ends
// neither wait and leaves a connected port connected. A put is taken only while
// connected; otherwise it is refused (the engine answers it with an error confirmation). A taken
// put is handed to link control by the port's writer thread, in order: link control takes data
// on the runtime thread, so the caller (who may hold the engine lock the runtime thread waits
// for) never waits for it. No Windows header.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>
#include <cstddef>
#include <cstdint>

#include "common/tobject.h"
#include "portbridge/provider/ta_services.h"

namespace pbprov {

// An indication as the provider receives it: the id and, for 643, the CAPI message from the
// adapter (after the 2-byte prefix; `size` readable bytes, the length field already checked).
struct CTaPortMessage {
    uint16_t id = 0;
    const uint8_t* message = nullptr;
    size_t size = 0;
};

using CTaPortIndicationFn = void (*)(void* context, unsigned portIndex, const CTaPortMessage& message);

// The checks on one received item: the message starts 2 bytes after the header room and is 2
// bytes shorter than the item. False (message dropped) when the item cannot hold the prefix and a
// header, or the length field claims less than a header, more than the item or more than 512.
bool adapterMessageFromItem(const CTaIndication& item, CTaPortMessage* out);

constexpr size_t kAdapterMessageMax = 512;

class CTaPortBase : public CDoubleListNode {
public:
    CTaPortBase() { name_ = "CTaPortBase"; }
};

class CTaPort : public CTaPortBase {
public:
    enum State : int { kClosed = 0, kOpening = 1, kFailed = 2, kWaiting = 3, kConnected = 4 };

    // Time-outs and the settling pause, in ms; tests shorten them.
    struct Timing {
        unsigned settleMs = 500;
        unsigned connectMs = 10000;
        unsigned disconnectMs = 5000;
        unsigned tickMs = 10;
    };

    CTaPort(unsigned index, CTaLinkOps* link, CTaTimerOps* timers);
    ~CTaPort() override;
    void shutDown() override;

    void setIndicationProc(CTaPortIndicationFn fn, void* context);
    void setTiming(const Timing& timing) { timing_ = timing; }

    // Starts the runtime and the link: 0 when the link came up (state 0, ready to connect), else
    // non-zero with the link shut down again (state 2).
    uint32_t open(const CTaPortSettings& settings);
    // Asks for the data link: 0 when link control reported it up (state 4), 88 on a release, a
    // link loss or a stop, or when no answer came in time (state 0).
    uint32_t connect();
    // Releases the data link: 0 (state 0), or 88 when no answer came (stays 4).
    uint32_t disconnect();
    // Sends 513 again, carrying the byte.
    uint32_t reactivate(uint8_t byte);
    // Shuts the runtime down (state 0).
    void close();
    // Takes the prefix, the message and the payload as one data item for link control: 15
    // (pending); 0x1109 while the port is not connected.
    uint32_t putMessage(const uint8_t* message, size_t size, const uint8_t* payload = nullptr,
                        size_t payloadLength = 0);
    // Waits until the writer has handed over every taken item; false after `ms`.
    bool waitWritten(unsigned ms);
    // Items that never reached link control (no runtime, no buffer, too long); their requests
    // were confirmed with an error here.
    unsigned refusedItems() const { return refused_.load(); }

    int state() const { return state_.load(); }
    unsigned index() const { return index_; }
    uint32_t lastResult() const { return result_.load(); }
    // For tests: the runtime callback as link control calls it.
    void runtimeIndication(const CTaIndication& indication);

private:
    static void runtimeCallback(void* context, const CTaIndication& indication);
    static void tickCallback(void* context);
    void deliver(const CTaIndication& indication);
    void stopTick();
    void writerLoop();
    void stopWriter();
    void confirmRefusedData(const std::vector<uint8_t>& item, uint32_t info);
    // Confirms every item still waiting for the writer with 0x2001 and forgets it.
    void answerQueued();

    unsigned index_;
    CTaLinkOps* link_;
    CTaTimerOps* timers_;
    CTaPortIndicationFn indicationFn_ = nullptr;
    void* indicationContext_ = nullptr;
    CTaEvent waitEvent_;
    std::atomic<uint32_t> result_{0};
    std::atomic<int> state_{kClosed};
    std::atomic<uint16_t> awaited_{0};  // the request whose answer completes the wait
    uint8_t reactivation_ = 0;
    bool runtimeStarted_ = false;
    void* tickTimer_ = nullptr;
    std::atomic<bool> tickBusy_{false};
    Timing timing_;

    std::mutex writeMutex_;
    std::condition_variable writeCv_;
    std::deque<std::vector<uint8_t>> writeQueue_;
    bool writing_ = false;
    bool writerStop_ = false;
    std::thread writer_;
    std::atomic<unsigned> refused_{0};
};

}  // namespace pbprov
