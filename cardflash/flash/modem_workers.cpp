// The worker operations of CModem: each starter hands one body to a thread of its own, which waits
// for the process-wide operation semaphore, runs the body and reports to the window that asked.
#include <process.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

#include "cardflash/flash/modem.h"
#include "framework/handles.h"

namespace {

// Threads started one after another may reach the semaphore in any order, and an operation that
// sets the country code must not be overtaken by the read that follows it. Each operation draws a
// ticket when it is started; only the holder of the next ticket may wait on the semaphore.
class OperationTurns {
public:
    unsigned Draw() {
        std::lock_guard<std::mutex> lock(m_);
        return next_++;
    }
    // A ticket whose thread never started: later operations must not wait for it.
    void Drop(unsigned ticket) {
        std::lock_guard<std::mutex> lock(m_);
        dropped_.insert(ticket);
        SkipDropped();
        turn_.notify_all();
    }
    void WaitFor(unsigned ticket) {
        std::unique_lock<std::mutex> lock(m_);
        turn_.wait(lock, [&] { return serving_ == ticket; });
    }
    // Called once the ticket's holder has the semaphore.
    void Pass() {
        std::lock_guard<std::mutex> lock(m_);
        ++serving_;
        SkipDropped();
        turn_.notify_all();
    }

private:
    void SkipDropped() {
        while (dropped_.erase(serving_)) ++serving_;
    }

    std::mutex m_;
    std::condition_variable turn_;
    unsigned next_ = 0;
    unsigned serving_ = 0;
    std::set<unsigned> dropped_;
};

OperationTurns& Turns() {
    static OperationTurns turns;
    return turns;
}

}  // namespace

struct CModem::OperationStart {
    CModem* modem;
    HWND window;
    int argument;
    unsigned ticket;
};

int CModem::StartOperation(WorkerProc worker, HWND window, int argument) {
    BeginOperation();
    auto* start = new OperationStart{this, window, argument, Turns().Draw()};
    fw::FileHandle thread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, worker, start, 0, nullptr)));
    if (!thread.IsOpen()) {
        Turns().Drop(start->ticket);
        delete start;
        EndOperation();
        return kModemNoThread;
    }
    return kModemOk;
}

unsigned CModem::RunOperation(void* block, ModemOperation code, Body body) {
    std::unique_ptr<OperationStart> start(static_cast<OperationStart*>(block));
    CModem* modem = start->modem;
    HANDLE semaphore = CModemProcess::OperationSemaphore();
    Turns().WaitFor(start->ticket);
    WaitForSingleObject(semaphore, INFINITE);
    Turns().Pass();

    int result = kModemTimeout;
    if (!modem->m_Closing) {
        result = body(*modem, start->argument);
        HWND window = start->window;
        // The trace mask is set from windows that may have gone by the time it is done.
        bool tell = window != nullptr && (code != kOpSetTraceMask || IsWindow(window));
        if (tell) {
            PostMessageA(window, WM_USER, code, result);
            // Read and cleared under the port mutex: a detection on another thread may be setting
            // the flags. Cleared before the notice goes, so that a window told of the change finds
            // it taken; the notice stays due when no window could be told.
            CPortLock flags(nullptr);
            if (modem->m_AddOnChanged) {
                modem->m_AddOnChanged = 0;
                if (!PostMessageA(window, WM_USER, kOpAddOnChanged, modem->m_AddOn)) modem->m_AddOnChanged = 1;
            }
        }
    }
    ReleaseSemaphore(semaphore, 1, nullptr);
    // The destructor may free the modem as soon as this returns.
    modem->EndOperation();
    return static_cast<unsigned>(result);
}

unsigned __stdcall CModem::ReadFirmwareVersionThread(void* start) {
    return RunOperation(start, kOpReadFirmwareVersion, [](CModem& m, int) { return m.ReadFirmwareVersion(); });
}
unsigned __stdcall CModem::ReadCountryCodeThread(void* start) {
    return RunOperation(start, kOpReadCountryCode, [](CModem& m, int) { return m.ReadCountryCode(); });
}
unsigned __stdcall CModem::ReadConfigurationThread(void* start) {
    return RunOperation(start, kOpReadConfiguration, [](CModem& m, int) { return m.ReadConfiguration(); });
}
unsigned __stdcall CModem::SetCountryCodeThread(void* start) {
    return RunOperation(start, kOpSetCountryCode, [](CModem& m, int code) { return m.SetCountryCode(code); });
}
unsigned __stdcall CModem::ReadCountryListThread(void* start) {
    return RunOperation(start, kOpReadCountryList, [](CModem& m, int) { return m.ReadCountryList(); });
}
unsigned __stdcall CModem::ReadModuleInfoThread(void* start) {
    return RunOperation(start, kOpReadModuleInfo, [](CModem& m, int) { return m.ReadModuleInfo(); });
}
unsigned __stdcall CModem::CheckFirmwareLevelThread(void* start) {
    return RunOperation(start, kOpCheckFirmwareLevel, [](CModem& m, int) { return m.CheckFirmwareLevel(); });
}
unsigned __stdcall CModem::ReadCableTypeThread(void* start) {
    return RunOperation(start, kOpReadCableType, [](CModem& m, int) { return m.ReadCableType(); });
}
unsigned __stdcall CModem::SetTraceMaskThread(void* start) {
    return RunOperation(start, kOpSetTraceMask, [](CModem& m, int mask) { return m.SetTraceMask(mask); });
}

int CModem::StartReadFirmwareVersion(HWND window) { return StartOperation(ReadFirmwareVersionThread, window, 0); }
int CModem::StartReadCountryCode(HWND window) { return StartOperation(ReadCountryCodeThread, window, 0); }
int CModem::StartReadConfiguration(HWND window) { return StartOperation(ReadConfigurationThread, window, 0); }
int CModem::StartSetCountryCode(HWND window, int code) { return StartOperation(SetCountryCodeThread, window, code); }
int CModem::StartReadCountryList(HWND window) { return StartOperation(ReadCountryListThread, window, 0); }
int CModem::StartReadModuleInfo(HWND window) { return StartOperation(ReadModuleInfoThread, window, 0); }
int CModem::StartCheckFirmwareLevel(HWND window) { return StartOperation(CheckFirmwareLevelThread, window, 0); }
int CModem::StartReadCableType(HWND window) { return StartOperation(ReadCableTypeThread, window, 0); }
int CModem::StartSetTraceMask(HWND window, int mask) {
    return StartOperation(SetTraceMaskThread, window, mask & 0xFF);
}
