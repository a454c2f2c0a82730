// The ISDN Tamrisk on the far end of a COM-port pair: an IsdnAdapter served by a thread of its
// own, for tests and the demo. Replies can be sent in pieces with gaps between them. After
// "atcm3" the line carries serial frames with the HDLC link of TamriskLink, until "at" comes
// again; in framed mode the output can be paced at a line rate. The I frames of the link carry the
// adapter's CAPI side (CapiController), unless a test switches it off to use the bare link.
//
// A paced line is full duplex, as a serial line is: one thread takes the computer's bytes and
// hands each frame to the link when its own last byte would have arrived, another writes what the
// adapter says, each piece when its last byte would have left the wire. So an answer never comes
// before the line could carry it, and the two directions never wait for each other.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simulators/isdn/capi_controller.h"
#include "simulators/isdn/isdn_adapter.h"
#include "simulators/isdn/tamrisk_link.h"

namespace isdnsim {

class IsdnSimulator {
public:
    IsdnSimulator() = default;
    ~IsdnSimulator() { Stop(); }
    IsdnSimulator(const IsdnSimulator&) = delete;
    IsdnSimulator& operator=(const IsdnSimulator&) = delete;

    // Opens `port` ("COM13") at 115200 bit/s and starts answering; false when it cannot be opened.
    bool Start(const std::string& port);
    void Stop();

    // Replies go out in pieces of `size` bytes with `gap_ms` between them (0: whole).
    void SetPieces(size_t size, DWORD gap_ms);

    // Runs `f` on the adapter while the serving thread waits (settings, behaviour, log).
    template <class F>
    auto With(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(adapter_);
    }
    std::vector<std::string> Commands();  // a copy of the command log
    void ClearLog();

    // Runs `f` on the framed link while the serving thread waits; what `f` returns (bytes for the
    // line, as from TamriskLink::SendDm) goes out on the next turn of the serving thread.
    template <class F>
    void WithLink(F f) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Bytes b = f(link_);
            pending_out_.insert(pending_out_.end(), b.begin(), b.end());
        }
        Wake();
    }
    template <class F>
    auto ReadLink(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(static_cast<const TamriskLink&>(link_));
    }
    bool Framed();

    // Runs `f` on the CAPI side while the serving thread waits: knobs, counters, and the network's
    // doings (IncomingCall, RemoteHangup, SendData), whose messages go out on the next turn.
    template <class F>
    auto WithCapi(F f) {
        struct WakeAfter {
            IsdnSimulator* sim;
            ~WakeAfter() { sim->Wake(); }
        } wake{this};
        std::lock_guard<std::mutex> lock(mutex_);
        return f(capi_);
    }
    // Off: I frames are only collected (TamriskLink::received), nothing answers them.
    void ServeCapi(bool on);
    // Output in framed mode at most this many bytes per second (0: as fast as the port takes it).
    void SetPacing(unsigned bytes_per_second);

private:
    // One piece for the writer thread: written after `delay_ms`, and at the line rate when paced.
    struct Outgoing {
        Bytes bytes;
        DWORD delay_ms = 0;
        bool paced = false;
        double queued_ms = 0;  // when the adapter had it to say
    };
    void Serve();
    void Turn(const uint8_t* data, DWORD got);  // handles bytes that have arrived (got may be 0)
    void Write();                               // the writer thread
    void Send(Outgoing piece);
    void Wake();  // a turn of the serving thread now, for what a test queued
    size_t FrameEnds(const uint8_t* data, size_t size, std::vector<size_t>* ends);
    void PassToCapi(uint32_t now);  // with mutex_ held

    HANDLE port_ = INVALID_HANDLE_VALUE;
    HANDLE wake_ = nullptr;
    std::thread thread_, writer_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    IsdnAdapter adapter_;
    size_t log_start_ = 0;
    size_t piece_size_ = 0;
    DWORD piece_gap_ms_ = 0;
    TamriskLink link_;
    bool framed_ = false;
    Bytes pending_out_;
    unsigned pace_ = 0;
    CapiController capi_;
    bool capi_on_ = true;
    bool link_up_ = false;
    size_t capi_seen_ = 0;  // link_.received passed on so far
    double paced_until_ms_ = 0;  // when the last byte written so far has left the wire
    double read_until_ms_ = 0;   // the same for what comes in: the line delivers no faster
    SerialFrames frame_ends_;    // finds where the computer's frames end, for their arrival
    std::mutex out_mutex_;
    std::condition_variable out_ready_;
    std::deque<Outgoing> out_;
    bool writing_ = false;  // the writer holds a piece it has taken off out_
};

}  // namespace isdnsim
