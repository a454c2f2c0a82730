// The provider process: its one hidden window ("capispAppWinClass", "TA capi service provider")
// through which the system's CAPI library reaches the provider, the client instances attached to
// it, the shared objects of every registered application, and the shut-down when no client is
// left. Every message, the idle shut-down included, runs on the main thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/tobject.h"
#include "portbridge/capi/provider_interface.h"
#include "portbridge/capi/shared_memory.h"

constexpr UINT WM_CAPISP_OPENPORT = WM_USER + 104;
constexpr UINT WM_CAPISP_CLOSEPORT = WM_USER + 105;
constexpr UINT WM_CAPISP_CALL = WM_USER + 106;
constexpr UINT WM_CAPISP_ATTACH = WM_USER + 108;
constexpr UINT WM_CAPISP_DETACH = WM_USER + 109;
constexpr UINT WM_CAPISP_SHUTDOWN = WM_USER + 110;

constexpr const char* kProviderWindowClass = "capispAppWinClass";
constexpr const char* kProviderWindowTitle = "TA capi service provider";
constexpr UINT kIdleShutDownMs = 3000;

// One attached client instance and its section; the id is kept here, not read back from the
// client's bytes.
class CAttachedInstance : public CAppSharedMemory {
public:
    explicit CAttachedInstance(uint32_t id) : id_(id) { name_ = "CAttachedInstance"; }
    uint32_t id() const { return id_; }

private:
    uint32_t id_;
};

class CProviderWindow {
public:
    explicit CProviderWindow(CProviderInterface& provider) : provider_(provider) {}
    ~CProviderWindow();
    CProviderWindow(const CProviderWindow&) = delete;
    CProviderWindow& operator=(const CProviderWindow&) = delete;

    // Registers the class and creates the window: 0, or the process exit code of the failure
    // (1 class, 0 window).
    int create(HINSTANCE instance, bool* created);
    HWND handle() const { return window_; }

    LRESULT dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK providerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    LRESULT attach(uint32_t id, uint32_t size);
    LRESULT detach(uint32_t id);
    LRESULT capiCall(uint32_t function, uint32_t id);
    uint16_t registerCall(uint8_t* instance, uint8_t* block);
    uint16_t releaseCall(uint8_t* block);
    uint16_t identityCall(uint32_t function, uint8_t* instance, uint8_t* block);
    void idleTimerFired();
    LRESULT close();

    CAttachedInstance* findInstance(uint32_t id);
    CSharedInstance* findApplication(uint16_t applicationId);

    CProviderInterface& provider_;
    HWND window_ = nullptr;
    HINSTANCE module_ = nullptr;
    CDoubleList instances_;     // CAttachedInstance, in attach order
    CDoubleList applications_;  // CSharedInstance, one per registered application
    bool shuttingDown_ = false;
    bool idleTimerArmed_ = false;
};

// The process entry's body: single instance, window, provider start, message loop. The exit code.
int runProviderProcess(HINSTANCE instance, CProviderInterface& provider);

// The provider this program runs (one per build of the program).
CProviderInterface& processProvider();
