// The process-wide object of watchsvc: command line, registration as a local server or a service,
// the service's main routine and control handler, the apartment and message loop that serve COM
// calls, the lock count, and reports to the event log or standard output.
#pragma once

#include <windows.h>

class ServiceModule {
public:
    static ServiceModule& Instance();

    // Program entry: `cmdLine` is the text after the program name. Returns the exit code.
    int WinMain(const char* cmdLine);

    void Init();
    HRESULT RegisterServer(BOOL asService);
    HRESULT UnregisterServer();
    BOOL IsInstalled();
    BOOL Install();
    BOOL Uninstall();
    void Start();
    void ServiceMain();
    void Handler(DWORD control);
    void Run();
    void SetServiceStatus(DWORD state);
    void LogEvent(const char* format, ...);

    // The lock count: objects and IClassFactory::LockServer. When it falls to zero a local server
    // ends, once it is sure that no client is still about to create an object.
    LONG Lock();
    LONG Unlock();

    // How long a local server stays after its last lock went, and how long, with its class object
    // withdrawn, it still serves a client that took the class object just before.
    static const DWORD kIdleMs = 2000;
    static const DWORD kPauseMs = 500;

private:
    // Sets the as-service flag from the registration; 0, or the error of a key that did not open.
    LONG ReadServiceMode();
    ServiceModule() = default;
    static void WINAPI ServiceMainEntry(DWORD argc, LPSTR* argv);
    static void WINAPI HandlerEntry(DWORD control);

    HRESULT RegisterClassObjects();
    void RevokeClassObjects();
    HRESULT InitializeSecurity();
    void MessageLoop();
    bool Pump();             // dispatches queued messages; false on a quit message
    bool IdleTimeElapsed();  // true when the server is to end now
    void ShowError(const char* text);

    char serviceName_[256] = {};
    SERVICE_STATUS status_ = {};
    SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
    bool asService_ = false;
    volatile DWORD runThread_ = 0;
    int exitCode_ = 0;
    LONG locks_ = 0;
    HANDLE stopEvent_ = nullptr;  // set by the stop control; never missed, however early it comes
    DWORD classCookie_ = 0;
    bool classRegistered_ = false;
    UINT_PTR idleTimer_ = 0;
};
