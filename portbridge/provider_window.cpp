#include "portbridge/provider_window.h"

#include <cstring>
#include <new>

#include "common/debug.h"
#include "common/stage_clock.h"

using namespace shared;

namespace {
constexpr UINT_PTR kIdleTimerId = 1;
constexpr LRESULT kInstancesRemain = 5;
}  // namespace

CProviderWindow::~CProviderWindow() {
    applications_.shutDown();
    instances_.shutDown();
    if (window_) DestroyWindow(window_);
}

int CProviderWindow::create(HINSTANCE instance, bool* created) {
    *created = false;
    module_ = instance;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = providerWndProc;
    wc.hInstance = instance;
    wc.lpszClassName = kProviderWindowClass;
    if (!RegisterClassA(&wc)) return 1;
    window_ = CreateWindowExA(0, kProviderWindowClass, kProviderWindowTitle, 0, 0, 0, 0, 0, nullptr, nullptr,
                              instance, this);
    if (!window_) return 0;
    *created = true;
    return 0;
}

LRESULT CALLBACK CProviderWindow::providerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<CProviderWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self || message == WM_NCCREATE) return DefWindowProcA(window, message, wParam, lParam);
    return self->dispatch(window, message, wParam, lParam);
}

LRESULT CProviderWindow::dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return 0;
    case WM_CLOSE:
        return close();
    case WM_CAPISP_OPENPORT:
        return LRESULT(provider_.openPort(uint32_t(wParam)));
    case WM_CAPISP_CLOSEPORT:
        provider_.closePort(uint32_t(wParam));
        return 0;
    case WM_CAPISP_CALL:
        return capiCall(uint32_t(wParam), uint32_t(lParam));
    case WM_CAPISP_ATTACH:
        return attach(uint32_t(wParam), uint32_t(lParam));
    case WM_CAPISP_DETACH:
        return detach(uint32_t(wParam));
    case WM_CAPISP_SHUTDOWN:
        // Runs on this thread when it fires: the shut-down touches the lists and the window.
        SetTimer(window_, kIdleTimerId, kIdleShutDownMs, nullptr);
        idleTimerArmed_ = true;
        return kInstancesRemain;
    case WM_TIMER:
        if (wParam == kIdleTimerId) {
            idleTimerFired();
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CProviderWindow::close() {
    if (instances_.getSize() != 0) return kInstancesRemain;
    DestroyWindow(window_);
    window_ = nullptr;
    UnregisterClassA(kProviderWindowClass, module_);
    PostQuitMessage(0);
    return 0;
}

void CProviderWindow::idleTimerFired() {
    KillTimer(window_, kIdleTimerId);
    idleTimerArmed_ = false;
    shuttingDown_ = true;
    if (instances_.getSize() == 0) {
        provider_.shutDown();
        SendMessageA(window_, WM_CLOSE, 0, 0);
    }
    shuttingDown_ = false;
}

LRESULT CProviderWindow::attach(uint32_t id, uint32_t size) {
    if (shuttingDown_) return kInfoResources;
    if (idleTimerArmed_) {
        KillTimer(window_, kIdleTimerId);
        idleTimerArmed_ = false;
    }
    CAttachedInstance* entry = new (std::nothrow) CAttachedInstance(id);
    if (!entry) return kInfoResources;
    if (size < kInstanceMinSize || size > kInstanceMaxSize || !entry->openInstance(id, size)) {
        debugPrint(0x08000000, "! instance %X: section of %u bytes refused", unsigned(id), unsigned(size));
        delete entry;
        return kInfoResources;
    }
    put32(entry->view() + kInstanceId, id);
    instances_.appendNodeInterlocked(entry);
    return LRESULT(id & 0xFFFF);
}

LRESULT CProviderWindow::detach(uint32_t id) {
    CAttachedInstance* entry = findInstance(id);
    if (!entry) return kInfoUnknownApplication;
    instances_.removeNodeInterlocked(entry);
    delete entry;
    return 0;
}

CAttachedInstance* CProviderWindow::findInstance(uint32_t id) {
    for (CDoubleListNode* n = instances_.head(); n; n = n->next())
        if (static_cast<CAttachedInstance*>(n)->id() == id) return static_cast<CAttachedInstance*>(n);
    return nullptr;
}

CSharedInstance* CProviderWindow::findApplication(uint16_t applicationId) {
    for (CDoubleListNode* n = applications_.head(); n; n = n->next())
        if (static_cast<CSharedInstance*>(n)->applicationId() == applicationId) return static_cast<CSharedInstance*>(n);
    return nullptr;
}

LRESULT CProviderWindow::capiCall(uint32_t function, uint32_t id) {
    CAttachedInstance* entry = findInstance(id);
    if (!entry) {
        debugPrint(0x08000000, "! shared instance %X not found, in queue %d", unsigned(id), int(instances_.getSize()));
        return kInfoResources;
    }
    uint8_t* instance = entry->view();
    uint8_t* block = instance + (function == kFnGet ? kGetBlock : kCallBlock);
    uint16_t rc = 0;
    switch (function) {
    case kFnRegister:
        rc = registerCall(instance, block);
        break;
    case kFnRelease:
        rc = releaseCall(block);
        break;
    case kFnPut:
    case kFnGet: {
        // Without its shared objects an application has no put or get area: nothing the client
        // wrote may stand in for one.
        if (function == kFnPut) stageclock::stamp(stageclock::kWindowPut);
        CSharedInstance* app = findApplication(get16(block + 4));
        if (!app) return kInfoUnknownApplication;
        rc = function == kFnPut ? app->put(provider_, block) : app->get(provider_, block);
        break;
    }
    case kFnSignal:
        // A procedure address of the client's process is meaningless here; the signal of every
        // application is the semaphore its shared objects install.
        rc = kInfoBadMessage;
        break;
    case kFnManufacturer:
    case kFnVersion:
    case kFnSerialNumber:
    case kFnProfile:
        rc = identityCall(function, instance, block);
        break;
    default:
        break;
    }
    return LRESULT(rc);
}

uint16_t CProviderWindow::registerCall(uint8_t* instance, uint8_t* block) {
    RegisterParams params = readRegisterParams(block);
    put32(block + 16, blockAddress(instance + kAppIdResult));
    uint16_t applicationId = 0;
    uint16_t rc = provider_.registerApplication(params, &applicationId);
    put16(instance + kAppIdResult, applicationId);
    if (rc != kInfoOk) return rc;
    // Objects left from an earlier holder of the id would serve the new application's calls.
    if (CSharedInstance* stale = findApplication(applicationId)) {
        applications_.removeNodeInterlocked(stale);
        delete stale;
    }
    CSharedInstance* app = new (std::nothrow) CSharedInstance;
    rc = app ? app->createFromRegister(provider_, applicationId, params) : uint16_t(kInfoResources);
    if (rc == kInfoOk) {
        applications_.appendNodeInterlocked(app);
        return rc;
    }
    // An application the client cannot reach must not hold one of the provider's objects.
    debugPrint(0x08000000, "! application %u: shared objects failed (%#x), released", unsigned(applicationId),
               unsigned(rc));
    provider_.releaseApplication(applicationId);
    delete app;
    put16(instance + kAppIdResult, 0);
    return rc;
}

uint16_t CProviderWindow::releaseCall(uint8_t* block) {
    uint16_t applicationId = get16(block + 4);
    uint16_t rc = provider_.releaseApplication(applicationId);
    if (rc == kInfoOk) {
        if (CSharedInstance* app = findApplication(applicationId)) {
            applications_.removeNodeInterlocked(app);
            delete app;
        }
    }
    return rc;
}

uint16_t CProviderWindow::identityCall(uint32_t function, uint8_t* instance, uint8_t* block) {
    uint8_t* result = instance + kResultBuffer;
    char text[kResultBufferSize] = {};
    uint8_t profile[kResultBufferSize] = {};
    uint16_t rc = 0;
    switch (function) {
    case kFnManufacturer:
        put32(block + 4, blockAddress(result));
        rc = provider_.getManufacturer(text);
        break;
    case kFnSerialNumber:
        put32(block + 4, blockAddress(result));
        rc = provider_.getSerialNumber(text);
        break;
    case kFnProfile:
        put32(block + 4, blockAddress(result));
        rc = provider_.getProfile(get32(block + 8), profile);
        std::memcpy(result, profile, kResultBufferSize);
        return rc;
    case kFnVersion:
        if (get16(block + 6) == kVersionTextSelector) {
            // The text goes to the result buffer, never to an address the client named.
            put32(block + 8, blockAddress(result));
            rc = provider_.getVersionText(text);
            break;
        } else {
            uint16_t major = 0, minor = 0;
            rc = provider_.getVersion(&major, &minor);
            put16(block + 4, minor);
            put16(block + 6, major);
            return rc;
        }
    default:
        return 0;
    }
    text[kResultBufferSize - 1] = 0;
    std::memcpy(result, text, kResultBufferSize);
    return rc;
}

int runProviderProcess(HINSTANCE instance, CProviderInterface& provider) {
    debugInit("serlinksp", 0xFFFFFFFF);
    if (FindWindowA(nullptr, kProviderWindowTitle)) return 2;
    CProviderWindow window(provider);
    bool created = false;
    int rc = window.create(instance, &created);
    if (!created) return rc;
    provider.start(window.handle());
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return int(msg.wParam);
}
