#include "portbridge/stack/serial_task.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "common/stage_clock.h"
#include "portbridge/stack/line_copies.h"
#include "portbridge/stack/os_runtime.h"
#include "portbridge/stack/serial_frame.h"
#include "portbridge/stack/stack_messages.h"

namespace stack {

namespace {

constexpr uint16_t kClosed = 2, kOpen = 1;
constexpr DWORD kEventMask = EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;
constexpr size_t kCollectorMax = 80;
constexpr int kWakeTries = 10;
constexpr DWORD kReplyWaitMs = 1000;
constexpr DWORD kThreadWaitMs = 500;
constexpr DWORD kThreadEndMs = 20000;
constexpr size_t kReadChunk = 512;
constexpr uint16_t kDefaultMaxLength = 96;
constexpr uint32_t kTransmitQueueBits = 0x400;

// An owned kernel handle (events, threads, the port).
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    void reset(HANDLE h) {
        close();
        h_ = h;
    }
    void close() {
        if (valid()) CloseHandle(h_);
        h_ = nullptr;
    }
    bool valid() const { return h_ && h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_ = nullptr;
};

class Lock {
public:
    Lock() { InitializeCriticalSection(&cs_); }
    ~Lock() { DeleteCriticalSection(&cs_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void enter() { EnterCriticalSection(&cs_); }
    void leave() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

class Held {
public:
    explicit Held(Lock& l) : l_(l) { l_.enter(); }
    ~Held() { l_.leave(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    Lock& l_;
};

class SerialTask : public SerialFrameSink {
public:
    SerialTask() : receiver_(*this, kDefaultMaxLength, 0) {}

    void reset(COSRuntime& rt, uint32_t address) {
        rt_ = &rt;
        address_ = address;
        queue_ = txQueue_ = upper_ = defaultPool_ = receivePool_ = copyPool_ = 0;
        portState_ = kClosed;
        linkMode_ = kLinkModeFramed;
        maxLength_ = kDefaultMaxLength;
        headerRoom_ = 0;
        baudCode_ = 9, dataBits_ = 8, parity_ = 0, stopBits_ = 0;
        framing_ = false;
        linkUp_ = false;
        clearToSend_ = true;
        modemStatusReadable_ = false;
        collector_[0] = 0;
        collected_ = 0;
        framesWritten_ = sendsRefused_ = 0;
        receiver_.releaseBuffer();
        receiver_.setLimits(maxLength_, headerRoom_);
        counterBase_ = receiver_.counters();
    }

    uint32_t init(COSRuntime& rt, uint32_t address) {
        if (rt_ == &rt && generation_ == rt.generation() && (address & 0xF80000)) {
            // A start with service bits is one more name of the same queue.
            return rt.addQueueAddress(queue_, address) == kOk ? 1 : 0;
        }
        // A port left open by an earlier runtime: its threads stop, its buffers went with it.
        if (portState_ == kOpen) closePort(false);
        reset(rt, address);
        generation_ = rt.generation();
        if (rt.createTaskQueue(address, &SerialTask::handler, this, &queue_) != kOk) return 0;
        const uint32_t tx = (address & ~0xFC00u) | kTransmitQueueBits;
        if (rt.createTaskQueue(tx, &SerialTask::idle, nullptr, &txQueue_) != kOk) return 0;
        rt.findDefaultPool(&defaultPool_);
        receivePool_ = defaultPool_;
        copyPool_ = lineCopyPool(rt, address);
        return 1;
    }

    SerialTaskCounters counters() {
        SerialTaskCounters c{};
        c.portOpen = portState_ == kOpen;
        c.framing = framing_;
        c.modemStatusReadable = modemStatusReadable_;
        Held hold(rxLock_);
        const SerialReceiveCounters& r = receiver_.counters();
        c.framesReceived = r.frames - counterBase_.frames;
        c.badHeaderSums = r.badHeaderSums - counterBase_.badHeaderSums;
        c.badPayloadSums = r.badPayloadSums - counterBase_.badPayloadSums;
        c.tooLong = r.tooLong - counterBase_.tooLong;
        c.emptyLength = r.emptyLength - counterBase_.emptyLength;
        c.noBuffer = r.noBuffer - counterBase_.noBuffer;
        c.framesWritten = framesWritten_;
        c.sendsRefused = sendsRefused_;
        return c;
    }

    char portName[64] = "COM1";
    char modeCommand[32] = "atcm3\n\r";

private:
    static void idle(void*) {}
    static void handler(void* context) {
        SerialTask& s = *static_cast<SerialTask*>(context);
        RuntimeMessage m;
        if (s.rt_->receiveMessage(s.queue_, &m) != kOk) return;
        s.dispatch(m);
    }

    void dispatch(const RuntimeMessage& m) {
        switch (m.id()) {
        case kBound: {
            upper_ = m.u16(9);
            uint16_t pool = 0;
            const uint32_t poolAddress = (address_ & ~0x10Fu) | 0x2F0u;
            receivePool_ = rt_->findPoolByAddress(poolAddress, &pool) == kOk ? pool : defaultPool_;
            break;
        }
        case kConfigure:
            configure(m);
            break;
        case kReceivePool: {
            Held hold(rxLock_);
            receivePool_ = m.u16(6);
            if (uint8_t* old = receiver_.releaseBuffer()) rt_->freeBuffer(old);
            break;
        }
        case kLineControl:
            lineControl(m.u16(6));
            break;
        case kSerialSend:
            send(m);
            break;
        case kSerialOpen:
            open();
            break;
        case kSerialClose:
            if (taskNumberOf(m.address()) == kLinkControlTask) {
                if (portState_ == kOpen) closePort();
                indicateDown();
            } else {
                framing_ = false;
                indicateDown();
            }
            break;
        default:
            break;
        }
    }

    void toUpper(RuntimeMessage m) {
        m.setAddress(address_);
        if (rt_->sendMessage(upper_, m) != kOk) STACK_ASSERT_REPORT();
    }
    void indicateDown() {
        linkUp_ = false;
        RuntimeMessage m(kPortDown);
        m.put16(6, 1);
        toUpper(m);
    }

    void configure(const RuntimeMessage& m) {
        uint8_t* block = static_cast<uint8_t*>(m.pointer());
        if (!block) return;
        RuntimeMessage r(kConfigured);
        r.setPointer(block);
        const uint16_t mode = block16(block, config::kLinkMode);
        if (mode != kLinkModeSilent && mode != kLinkModeFramed && mode != kLinkModeRaw) {
            r.put16(10, 0x3001);
            toUpper(r);
            return;
        }
        uint16_t max = block16(block, config::kMaxFrameLength);
        if (max == 0) max = kDefaultMaxLength;
        {
            Held hold(rxLock_);
            linkMode_ = mode;
            maxLength_ = static_cast<uint16_t>(mode == kLinkModeFramed ? max + 6 : max);
            headerRoom_ = block16(block, config::kReceiveHeaderRoom);
            receiver_.setLimits(maxLength_, headerRoom_);
            if (uint8_t* old = receiver_.releaseBuffer()) rt_->freeBuffer(old);
        }
        baudCode_ = block16(block, config::kBaudCode);
        dataBits_ = block16(block, config::kDataBits);
        parity_ = block16(block, config::kParity);
        stopBits_ = block16(block, config::kStopBits);
        setBlock16(block, config::kTransmitHeaderRoom, mode == kLinkModeFramed ? 5 : 0);
        r.put16(10, 0);
        toUpper(r);
    }

    void lineControl(uint16_t what) {
        if (portState_ != kOpen) return;
        static const DWORD functions[] = {SETDTR, CLRDTR, SETRTS, CLRRTS};
        if (what >= 14 && what <= 17) EscapeCommFunction(port_.get(), functions[what - 14]);  // may fail: no lines
    }

    void dropRequest(const RuntimeMessage& m) {
        ++sendsRefused_;
        if ((m.u16(6) & 1) && m.pointer()) rt_->freeBuffer(m.pointer());
    }

    void send(const RuntimeMessage& m) {
        uint8_t* b = static_cast<uint8_t*>(m.pointer());
        if (!b) return;
        uint16_t off = m.u16(8), len = m.u16(10);
        if (linkMode_ == kLinkModeSilent || portState_ != kOpen) {
            dropRequest(m);
            return;
        }
        const bool framed = linkMode_ == kLinkModeFramed && framing_;
        uint16_t flags = m.u16(6);
        if (!(flags & 1)) {
            // The sender keeps this buffer and may change or free it once this send is handled:
            // the writer gets a copy of its own. (The link layer hands its I frames down as copies
            // already: it may rewrite a header before this task gets to the send.)
            const size_t size = rt_->bufferSizeOf(b);
            uint8_t* copy = nullptr;
            const size_t room = framed ? kSerialHeader : 0;
            if (!size || off > size || len > size - off ||
                rt_->getBuffer(copyPool_, static_cast<uint16_t>(room + len + kSerialTrailer), &copy) != kOk) {
                dropRequest(m);
                return;
            }
            std::memcpy(copy + room, b + off, len);
            b = copy;
            off = static_cast<uint16_t>(room);
            flags = 1;
        }
        if (framed) {
            // The header goes in front of the data and the sum behind it: both must lie inside
            // the buffer, or the frame would overwrite a neighbour.
            const size_t size = rt_->bufferSizeOf(b);
            size_t start = 0, total = 0;
            if (!size || !encodeSerialFrame(b, size, off, len, &start, &total)) {
                ++sendsRefused_;
                if (flags & 1) rt_->freeBuffer(b);
                return;
            }
            off = static_cast<uint16_t>(start);
            len = static_cast<uint16_t>(total);
        }
        RuntimeMessage q(kSerialSend);
        q.put16(6, flags);
        q.put16(8, off);
        q.put16(10, len);
        q.setPointer(b);
        if (rt_->sendMessage(txQueue_, q) != kOk) {
            dropRequest(m);
            return;
        }
        SetEvent(writeRequest_.get());
    }

    // Text for the adapter while framing is off, through the writer like everything else.
    bool writeText(const char* text) {
        const size_t n = std::strlen(text);
        uint8_t* b = nullptr;
        if (rt_->getBuffer(defaultPool_, static_cast<uint16_t>(n), &b) != kOk) return false;
        std::memcpy(b, text, n);
        RuntimeMessage q(kSerialSend);
        q.put16(6, 1);
        q.put16(8, 0);
        q.put16(10, static_cast<uint16_t>(n));
        q.setPointer(b);
        if (rt_->sendMessage(txQueue_, q) != kOk) {
            rt_->freeBuffer(b);
            return false;
        }
        SetEvent(writeRequest_.get());
        return true;
    }

    bool awaitReply(const char* expected, DWORD ms) {
        const DWORD start = GetTickCount();
        for (;;) {
            {
                Held hold(rxLock_);
                if (std::strstr(collector_, expected)) return true;
            }
            const DWORD spent = GetTickCount() - start;
            if (spent >= ms) return false;
            HANDLE waits[2] = {replyArrived_.get(), stop_.get()};
            if (WaitForMultipleObjects(2, waits, FALSE, ms - spent) == WAIT_OBJECT_0 + 1) return false;
        }
    }

    void clearCollector() {
        Held hold(rxLock_);
        collector_[0] = 0;
        collected_ = 0;
    }

    bool openPort() {
        char path[80];
        if (std::strncmp(portName, "\\\\.\\", 4) == 0)
            std::strcpy(path, portName);
        else
            std::strcat(std::strcpy(path, "\\\\.\\"), portName);
        port_.reset(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                nullptr));
        if (!port_.valid()) return false;
        GetCommTimeouts(port_.get(), &savedTimeouts_);
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        GetCommState(port_.get(), &dcb);
        dcb.BaudRate = baudCode_ == 8 ? 57600 : baudCode_ == 10 ? 230400 : 115200;
        dcb.ByteSize = static_cast<BYTE>(dataBits_ >= 5 && dataBits_ <= 8 ? dataBits_ : 8);
        dcb.Parity = static_cast<BYTE>(parity_ == 1 ? ODDPARITY : parity_ == 2 ? EVENPARITY : NOPARITY);
        dcb.StopBits = static_cast<BYTE>(stopBits_ == 2 ? TWOSTOPBITS : ONESTOPBIT);
        dcb.fBinary = TRUE;
        dcb.fParity = TRUE;
        dcb.fOutxCtsFlow = TRUE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fTXContinueOnXoff = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        dcb.fAbortOnError = FALSE;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.XonLim = 0;
        dcb.XoffLim = 0;
        SetCommState(port_.get(), &dcb);
        SetupComm(port_.get(), 4096, 4096);
        COMMTIMEOUTS to{};
        to.ReadIntervalTimeout = 1;
        SetCommTimeouts(port_.get(), &to);
        readClearToSend();
        EscapeCommFunction(port_.get(), SETDTR);
        EscapeCommFunction(port_.get(), SETRTS);
        readerWake_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        stop_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        writeRequest_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        replyArrived_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (!readerWake_.valid() || !stop_.valid() || !writeRequest_.valid() || !replyArrived_.valid()) return false;
        portState_ = kOpen;
        reader_.reset(CreateThread(nullptr, 0, &SerialTask::readerMain, this, 0, nullptr));
        writer_.reset(CreateThread(nullptr, 0, &SerialTask::writerMain, this, 0, nullptr));
        if (!reader_.valid() || !writer_.valid()) {
            closePort();
            return false;
        }
        return true;
    }

    void open() {
        if (portState_ != kOpen) {
            if (!openPort()) {
                closeHandles();
                indicateDown();
                return;
            }
        }
        EscapeCommFunction(port_.get(), CLRDTR);
        EscapeCommFunction(port_.get(), CLRRTS);
        Sleep(50);
        EscapeCommFunction(port_.get(), SETDTR);
        EscapeCommFunction(port_.get(), SETRTS);
        framing_ = false;
        bool awake = false;
        for (int i = 0; i < kWakeTries && !awake; ++i) {
            // Each try reads only its own answer: an old echo must not count.
            clearCollector();
            if (!writeText("at\n\r")) continue;
            awake = awaitReply("OK", kReplyWaitMs);
        }
        if (!awake) return;
        if (linkMode_ == kLinkModeFramed) {
            clearCollector();
            if (!writeText(modeCommand) || !awaitReply("OK", kReplyWaitMs)) return;
        }
        {
            Held hold(rxLock_);
            receiver_.reset();
            framing_ = true;
        }
        linkUp_ = true;
        toUpper(RuntimeMessage(kPortUp));
    }

    void closeHandles() {
        port_.close();
        readerWake_.close();
        stop_.close();
        writeRequest_.close();
        replyArrived_.close();
        reader_.close();
        writer_.close();
        portState_ = kClosed;
    }

    void closePort(bool ownRuntime = true) {
        EscapeCommFunction(port_.get(), CLRRTS);
        EscapeCommFunction(port_.get(), CLRDTR);
        framing_ = false;
        SetEvent(stop_.get());
        HANDLE threads[2] = {reader_.get(), writer_.get()};
        WaitForMultipleObjects(2, threads, TRUE, kThreadEndMs);
        SetCommTimeouts(port_.get(), &savedTimeouts_);
        PurgeComm(port_.get(), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        closeHandles();
        Held hold(rxLock_);
        uint8_t* old = receiver_.releaseBuffer();
        if (!ownRuntime) return;
        RuntimeMessage q;
        while (rt_->receiveMessage(txQueue_, &q) == kOk)
            if ((q.u16(6) & 1) && q.pointer()) rt_->freeBuffer(q.pointer());
        if (old) rt_->freeBuffer(old);
    }

    void readClearToSend() {
        DWORD status = 0;
        modemStatusReadable_ = GetCommModemStatus(port_.get(), &status) != 0;
        clearToSend_ = !modemStatusReadable_ || (status & MS_CTS_ON);
    }

    // --- the reader thread

    uint8_t* takeBuffer(size_t* capacity) override {
        uint8_t* b = nullptr;
        if (rt_->getBuffer(receivePool_, static_cast<uint16_t>(maxLength_ + headerRoom_), &b) != kOk) return nullptr;
        *capacity = rt_->bufferSizeOf(b);
        return b;
    }

    void frame(uint8_t* buffer, size_t offset, size_t length) override {
        RuntimeMessage m(kFrameReceived);
        m.put16(6, 1);
        m.put16(8, static_cast<uint16_t>(offset));
        m.put16(10, static_cast<uint16_t>(length));
        m.setPointer(buffer);
        m.setAddress(address_);
        if (rt_->sendMessage(upper_, m) != kOk) rt_->freeBuffer(buffer);
    }

    void received(const uint8_t* data, size_t n) {
        stageclock::stamp(stageclock::kSerialRead);
        Held hold(rxLock_);
        if (!framing_) {
            for (size_t i = 0; i < n && collected_ + 1 < kCollectorMax; ++i) {
                // A NUL would end the text early; the adapter's replies are plain text.
                if (data[i]) collector_[collected_++] = static_cast<char>(data[i]);
            }
            collector_[collected_] = 0;
            SetEvent(replyArrived_.get());
            return;
        }
        if (linkMode_ == kLinkModeFramed) {
            receiver_.feed(data, n);
            return;
        }
        while (n > 0) {
            size_t cap = 0;
            uint8_t* b = takeBuffer(&cap);
            if (!b) return;
            size_t piece = n < maxLength_ ? n : maxLength_;
            if (cap < headerRoom_ + piece) piece = cap > headerRoom_ ? cap - headerRoom_ : 0;
            if (piece == 0) {
                rt_->freeBuffer(b);
                return;
            }
            std::memcpy(b + headerRoom_, data, piece);
            frame(b, headerRoom_, piece);
            data += piece;
            n -= piece;
        }
    }

    void portEvents(DWORD events) {
        if (events & EV_CTS) {
            readClearToSend();
            if (clearToSend_) SetEvent(writeRequest_.get());
        }
        if (events & EV_ERR) {
            DWORD errors = 0;
            COMSTAT stat{};
            ClearCommError(port_.get(), &errors, &stat);
            if (errors & (CE_BREAK | CE_FRAME | CE_OVERRUN | CE_RXOVER | CE_RXPARITY | CE_IOE)) {
                PurgeComm(port_.get(), PURGE_RXCLEAR);
                Held hold(rxLock_);
                receiver_.reset();
            }
        }
    }

    static DWORD WINAPI readerMain(LPVOID context) {
        static_cast<SerialTask*>(context)->readLoop();
        return 0;
    }

    void readLoop() {
        Handle readDone(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        Handle eventDone(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED readOv{}, eventOv{};
        readOv.hEvent = readDone.get();
        eventOv.hEvent = eventDone.get();
        uint8_t buf[kReadChunk];
        bool reading = false, waitingEvent = false;
        // Ports without modem lines refuse the event wait at once; then only reads are waited for.
        bool eventsWork = SetCommMask(port_.get(), kEventMask) != 0;
        DWORD events = 0;
        for (;;) {
            if (!reading) {
                DWORD got = 0;
                ResetEvent(readDone.get());
                if (ReadFile(port_.get(), buf, sizeof(buf), &got, &readOv)) {
                    if (got)
                        received(buf, got);
                    else if (WaitForSingleObject(stop_.get(), 1) == WAIT_OBJECT_0)
                        break;
                    continue;
                }
                if (GetLastError() != ERROR_IO_PENDING) {
                    if (WaitForSingleObject(stop_.get(), 10) == WAIT_OBJECT_0) break;
                    continue;
                }
                reading = true;
            }
            if (eventsWork && !waitingEvent) {
                ResetEvent(eventDone.get());
                if (WaitCommEvent(port_.get(), &events, &eventOv)) {
                    portEvents(events);
                    continue;
                }
                if (GetLastError() == ERROR_IO_PENDING)
                    waitingEvent = true;
                else
                    eventsWork = false;
            }
            HANDLE waits[4] = {stop_.get(), readDone.get(), readerWake_.get(), eventDone.get()};
            const DWORD w = WaitForMultipleObjects(waitingEvent ? 4 : 3, waits, FALSE, kThreadWaitMs);
            if (w == WAIT_OBJECT_0) break;
            if (w == WAIT_OBJECT_0 + 1) {
                DWORD got = 0;
                reading = false;
                if (GetOverlappedResult(port_.get(), &readOv, &got, FALSE) && got) received(buf, got);
            } else if (w == WAIT_OBJECT_0 + 2) {
                portEvents(EV_CTS | EV_ERR);
            } else if (w == WAIT_OBJECT_0 + 3) {
                DWORD unused = 0;
                waitingEvent = false;
                if (GetOverlappedResult(port_.get(), &eventOv, &unused, FALSE)) portEvents(events);
            }
        }
        CancelIo(port_.get());
        if (reading) WaitForSingleObject(readDone.get(), 1000);
        if (waitingEvent) {
            SetCommMask(port_.get(), 0);
            WaitForSingleObject(eventDone.get(), 1000);
        }
    }

    // --- the writer thread

    static DWORD WINAPI writerMain(LPVOID context) {
        static_cast<SerialTask*>(context)->writeLoop();
        return 0;
    }

    // Writes all of it; false when the port failed or the task is stopping.
    bool writeAll(OVERLAPPED& ov, const uint8_t* p, DWORD n) {
        while (n > 0) {
            DWORD done = 0;
            ResetEvent(ov.hEvent);
            if (!WriteFile(port_.get(), p, n, &done, &ov)) {
                if (GetLastError() != ERROR_IO_PENDING) return false;
                HANDLE waits[2] = {ov.hEvent, stop_.get()};
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    CancelIo(port_.get());
                    WaitForSingleObject(ov.hEvent, 1000);
                    return false;
                }
                if (!GetOverlappedResult(port_.get(), &ov, &done, FALSE)) return false;
            }
            p += done;
            n -= done;
        }
        stageclock::stamp(stageclock::kSerialWritten);
        return true;
    }

    void writeLoop() {
        Handle writeDone(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED ov{};
        ov.hEvent = writeDone.get();
        HANDLE waits[2] = {stop_.get(), writeRequest_.get()};
        for (;;) {
            if (WaitForMultipleObjects(2, waits, FALSE, kThreadWaitMs) == WAIT_OBJECT_0) return;
            // Only this thread takes requests off the transmit queue, one at a time and in order.
            while (clearToSend_) {
                RuntimeMessage q;
                if (rt_->receiveMessage(txQueue_, &q) != kOk) break;
                uint8_t* b = static_cast<uint8_t*>(q.pointer());
                const bool ok = writeAll(ov, b + q.u16(8), q.u16(10));
                if (ok) ++framesWritten_;
                if (q.u16(6) & 1) rt_->freeBuffer(b);
                if (WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0) return;
            }
        }
    }

    COSRuntime* rt_ = nullptr;
    uint32_t generation_ = 0;
    uint32_t address_ = 0;
    uint16_t queue_ = 0, txQueue_ = 0, upper_ = 0, defaultPool_ = 0, receivePool_ = 0, copyPool_ = 0;
    uint16_t portState_ = kClosed;
    uint16_t linkMode_ = kLinkModeFramed;
    uint16_t maxLength_ = kDefaultMaxLength;
    uint16_t headerRoom_ = 0;
    uint16_t baudCode_ = 9, dataBits_ = 8, parity_ = 0, stopBits_ = 0;
    volatile bool framing_ = false;
    bool linkUp_ = false;
    volatile bool clearToSend_ = true;
    bool modemStatusReadable_ = false;
    char collector_[kCollectorMax] = {};
    size_t collected_ = 0;
    unsigned framesWritten_ = 0, sendsRefused_ = 0;
    COMMTIMEOUTS savedTimeouts_{};
    Handle port_, readerWake_, stop_, writeRequest_, replyArrived_, reader_, writer_;
    Lock rxLock_;
    CSerialFrameReceiver receiver_;
    SerialReceiveCounters counterBase_;
};

SerialTask& theSerialTask() {
    static SerialTask task;
    return task;
}

}  // namespace

uint32_t serialTaskInit(void*, uint32_t address) { return theSerialTask().init(osRuntime(), address); }

void setSerialPortName(const char* name) {
    SerialTask& t = theSerialTask();
    std::strncpy(t.portName, name ? name : "", sizeof(t.portName) - 1);
    t.portName[sizeof(t.portName) - 1] = 0;
}

void setSerialModeCommand(const char* command) {
    SerialTask& t = theSerialTask();
    std::strncpy(t.modeCommand, command ? command : "", sizeof(t.modeCommand) - 1);
    t.modeCommand[sizeof(t.modeCommand) - 1] = 0;
}

SerialTaskCounters serialTaskCounters() { return theSerialTask().counters(); }

}  // namespace stack
