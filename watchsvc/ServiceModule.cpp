#include "ServiceModule.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "Registration.h"
#include "Registry.h"
#include "cmdline.h"
#include "watchsvc_idl.h"

namespace {

// Posted to the run thread when the lock count reaches zero.
const UINT kIdleMessage = WM_APP + 1;

const int kServiceNameString = 100;

RegistryFactory g_factory;

bool IsLead(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

// A service handle closed on scope exit.
class ScHandle {
public:
    explicit ScHandle(SC_HANDLE h) : h_(h) {}
    ~ScHandle() {
        if (h_) CloseServiceHandle(h_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    SC_HANDLE h_;
};

// A registry key closed on scope exit.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (h_) RegCloseKey(h_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY* out() { return &h_; }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

// Owner and group of a token, for the process's COM security descriptor.
class TokenSids {
public:
    bool Read(HANDLE token) {
        return Copy(token, TokenOwner, &owner_) && Copy(token, TokenPrimaryGroup, &group_);
    }
    PSID owner() { return Sid(owner_, TokenOwner); }
    PSID group() { return Sid(group_, TokenPrimaryGroup); }

private:
    static bool Copy(HANDLE token, TOKEN_INFORMATION_CLASS cls, std::vector<BYTE>* out) {
        DWORD n = 0;
        GetTokenInformation(token, cls, nullptr, 0, &n);
        if (n == 0) return false;
        out->assign(n, 0);
        return GetTokenInformation(token, cls, out->data(), n, &n) != FALSE;
    }
    static PSID Sid(std::vector<BYTE>& buf, TOKEN_INFORMATION_CLASS cls) {
        if (buf.empty()) return nullptr;
        return cls == TokenOwner ? reinterpret_cast<TOKEN_OWNER*>(buf.data())->Owner
                                 : reinterpret_cast<TOKEN_PRIMARY_GROUP*>(buf.data())->PrimaryGroup;
    }
    std::vector<BYTE> owner_, group_;
};

}  // namespace

ServiceModule& ServiceModule::Instance() {
    static ServiceModule module;
    return module;
}

void ServiceModule::Init() {
    asService_ = true;
    if (LoadStringA(GetModuleHandleA(nullptr), kServiceNameString, serviceName_, sizeof(serviceName_)) <= 0)
        lstrcpynA(serviceName_, "watchsvc", sizeof(serviceName_));
    status_ = SERVICE_STATUS{};
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status_.dwCurrentState = SERVICE_STOPPED;
    status_.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    if (!stopEvent_) stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

int ServiceModule::WinMain(const char* cmdLine) {
    Init();
    switch (watchsvc::FindSwitch(cmdLine, IsLead)) {
    case watchsvc::Switch::UnregServer:
        return int(UnregisterServer());
    case watchsvc::Switch::RegServer:
        return int(RegisterServer(FALSE));
    case watchsvc::Switch::Service:
        return int(RegisterServer(TRUE));
    case watchsvc::Switch::None:
        break;
    }
    if (LONG r = ReadServiceMode()) return int(r);
    Start();
    return exitCode_;
}

LONG ServiceModule::ReadServiceMode() {
    // The keys are closed before the run: a server that lives for days holds no handles it no
    // longer needs.
    RegKey appIds, appId;
    LONG r = RegOpenKeyExA(HKEY_CLASSES_ROOT, "AppID", 0, KEY_READ, appIds.out());
    if (r != ERROR_SUCCESS) return r;
    r = RegOpenKeyExA(appIds.get(), watchsvc::kAppIdText, 0, KEY_READ, appId.out());
    if (r != ERROR_SUCCESS) return r;
    char value[260];
    DWORD size = sizeof(value);
    asService_ = RegQueryValueExA(appId.get(), "LocalService", nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
    return ERROR_SUCCESS;
}

HRESULT ServiceModule::RegisterServer(BOOL asService) {
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) return hr;
    Uninstall();
    hr = watchsvc::ApplyAppEntries();
    if (SUCCEEDED(hr)) {
        RegKey appIds, appId;
        LONG r = RegOpenKeyExA(HKEY_CLASSES_ROOT, "AppID", 0, KEY_WRITE, appIds.out());
        if (r == ERROR_SUCCESS) r = RegOpenKeyExA(appIds.get(), watchsvc::kAppIdText, 0, KEY_WRITE, appId.out());
        if (r != ERROR_SUCCESS) {
            hr = HRESULT_FROM_WIN32(r);
        } else {
            RegDeleteValueA(appId.get(), "LocalService");
            if (asService) {
                static const char kLocalService[] = "watchsvc";
                static const char kParameters[] = "-Service";
                r = RegSetValueExA(appId.get(), "LocalService", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(kLocalService), sizeof(kLocalService));
                if (r == ERROR_SUCCESS)
                    r = RegSetValueExA(appId.get(), "ServiceParameters", 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(kParameters), sizeof(kParameters));
                if (r != ERROR_SUCCESS)
                    hr = HRESULT_FROM_WIN32(r);
                else if (!Install())
                    hr = E_FAIL;  // a service that could not be created is no registration
            }
            if (SUCCEEDED(hr)) hr = Registry::UpdateRegistry(TRUE);
            if (SUCCEEDED(hr)) {
                ITypeLib* lib = nullptr;
                hr = LoadTypeLibEx(watchsvc::Wide(watchsvc::ModulePath()).c_str(), REGKIND_REGISTER, &lib);
                if (lib) lib->Release();
            }
        }
    }
    CoUninitialize();
    return hr;
}

HRESULT ServiceModule::UnregisterServer() {
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) return hr;
    watchsvc::RemoveAppEntries();
    Uninstall();
    Registry::UpdateRegistry(FALSE);
    // The library was registered under the platform it was compiled for (the 64-bit test build's
    // type library is SYS_WIN64).
#ifdef _WIN64
    UnRegisterTypeLib(LIBID_WATCHSVCLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
#else
    UnRegisterTypeLib(LIBID_WATCHSVCLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN32);
#endif
    CoUninitialize();
    return S_OK;
}

void ServiceModule::ShowError(const char* text) { MessageBoxA(nullptr, text, serviceName_, MB_OK); }

BOOL ServiceModule::IsInstalled() {
    ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm) return FALSE;
    ScHandle service(OpenServiceA(scm.get(), serviceName_, SERVICE_QUERY_CONFIG));
    return service ? TRUE : FALSE;
}

BOOL ServiceModule::Install() {
    if (IsInstalled()) return TRUE;
    ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm) {
        ShowError("Couldn't open service manager");
        return FALSE;
    }
    // The wide call, with the texts converted from the ANSI code page: Wine's CreateServiceA
    // converts the dependency list without its closing terminator and then reads past the end of
    // it (a crash once freed heap no longer happens to hold zeros). Services exist only on
    // Windows NT, where the wide call always exists.
    const std::wstring name = watchsvc::Wide(serviceName_);
    const std::wstring path = watchsvc::Wide(watchsvc::QuotedModulePath());
    static const wchar_t kDependencies[] = L"RPCSS\0";  // a list: one name, then an empty one
    ScHandle service(CreateServiceW(scm.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(),
                                    nullptr, nullptr, kDependencies, nullptr, nullptr));
    if (!service) {
        ShowError("Couldn't create service");
        return FALSE;
    }
    return TRUE;
}

BOOL ServiceModule::Uninstall() {
    if (!IsInstalled()) return TRUE;
    ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm) {
        ShowError("Couldn't open service manager");
        return FALSE;
    }
    ScHandle service(OpenServiceA(scm.get(), serviceName_, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) {
        ShowError("Couldn't open service");
        return FALSE;
    }
    SERVICE_STATUS st{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &st)) {
        // Give a running copy the chance to end, so that a new registration can create the
        // service again at once instead of finding it marked for deletion.
        for (int i = 0; i < 100 && QueryServiceStatus(service.get(), &st) && st.dwCurrentState != SERVICE_STOPPED; ++i)
            Sleep(100);
    }
    if (!DeleteService(service.get())) {
        ShowError("Service could not be deleted");
        return FALSE;
    }
    return TRUE;
}

void ServiceModule::Start() {
    if (asService_) {
        SERVICE_TABLE_ENTRYA table[] = {{serviceName_, ServiceMainEntry}, {nullptr, nullptr}};
        if (StartServiceCtrlDispatcherA(table)) return;
        asService_ = false;  // not started by the service control manager: run as a local server
    }
    Run();
}

void WINAPI ServiceModule::ServiceMainEntry(DWORD, LPSTR*) { Instance().ServiceMain(); }

void WINAPI ServiceModule::HandlerEntry(DWORD control) { Instance().Handler(control); }

void ServiceModule::ServiceMain() {
    status_.dwCurrentState = SERVICE_START_PENDING;
    statusHandle_ = RegisterServiceCtrlHandlerA(serviceName_, HandlerEntry);
    if (!statusHandle_) {
        LogEvent("Handler not installed");
        return;
    }
    SetServiceStatus(SERVICE_START_PENDING);
    status_.dwWin32ExitCode = 0;
    status_.dwCheckPoint = 0;
    status_.dwWaitHint = 0;
    Run();
    SetServiceStatus(SERVICE_STOPPED);
    LogEvent("Service stopped");
}

void ServiceModule::Handler(DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        SetServiceStatus(SERVICE_STOP_PENDING);
        SetEvent(stopEvent_);
        if (DWORD thread = runThread_) PostThreadMessageA(thread, WM_QUIT, 0, 0);
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
    case SERVICE_CONTROL_SHUTDOWN:
        break;
    default:
        LogEvent("Bad service request");
        break;
    }
}

HRESULT ServiceModule::InitializeSecurity() {
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return HRESULT_FROM_WIN32(GetLastError());
    TokenSids sids;
    bool read = sids.Read(token);
    CloseHandle(token);
    if (!read) return HRESULT_FROM_WIN32(GetLastError());
    SECURITY_DESCRIPTOR sd;
    if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE) ||  // every caller may reach the class
        !SetSecurityDescriptorOwner(&sd, sids.owner(), FALSE) || !SetSecurityDescriptorGroup(&sd, sids.group(), FALSE))
        return HRESULT_FROM_WIN32(GetLastError());
    return CoInitializeSecurity(&sd, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                nullptr, EOAC_NONE, nullptr);
}

HRESULT ServiceModule::RegisterClassObjects() {
    if (classRegistered_) return S_OK;
    HRESULT hr = CoRegisterClassObject(CLSID_Registry, static_cast<IClassFactory*>(&g_factory),
                                       CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, REGCLS_MULTIPLEUSE,
                                       &classCookie_);
    classRegistered_ = SUCCEEDED(hr);
    return hr;
}

void ServiceModule::RevokeClassObjects() {
    if (!classRegistered_) return;
    CoRevokeClassObject(classCookie_);
    classRegistered_ = false;
}

void ServiceModule::Run() {
    runThread_ = GetCurrentThreadId();
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the thread's queue, for the posts
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        LogEvent("COM could not be initialised (0x%08lX)", static_cast<unsigned long>(hr));
        exitCode_ = int(hr);
        status_.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        status_.dwServiceSpecificExitCode = DWORD(hr);
        return;
    }
    hr = InitializeSecurity();
    if (FAILED(hr)) LogEvent("COM security not set (0x%08lX)", static_cast<unsigned long>(hr));
    hr = RegisterClassObjects();
    if (FAILED(hr)) {
        LogEvent("Class object not registered (0x%08lX)", static_cast<unsigned long>(hr));
        exitCode_ = int(hr);
        status_.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        status_.dwServiceSpecificExitCode = DWORD(hr);
        CoUninitialize();
        return;
    }
    LogEvent("Service started");
    bool stopped = WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0;
    if (asService_ && !stopped) SetServiceStatus(SERVICE_RUNNING);
    if (!stopped) MessageLoop();
    if (idleTimer_) KillTimer(nullptr, idleTimer_);
    idleTimer_ = 0;
    RevokeClassObjects();
    CoUninitialize();
}

bool ServiceModule::Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return false;
        if (msg.hwnd == nullptr && msg.message == kIdleMessage) {
            if (locks_ == 0 && !asService_) {
                if (idleTimer_) KillTimer(nullptr, idleTimer_);
                idleTimer_ = SetTimer(nullptr, 0, kIdleMs, nullptr);
            }
            continue;
        }
        if (msg.hwnd == nullptr && msg.message == WM_TIMER && idleTimer_ && msg.wParam == idleTimer_) {
            if (IdleTimeElapsed()) return false;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

void ServiceModule::MessageLoop() {
    for (;;) {
        DWORD w = MsgWaitForMultipleObjects(1, &stopEvent_, FALSE, INFINITE, QS_ALLINPUT);
        if (w != WAIT_OBJECT_0 + 1) return;  // stop requested (or the wait failed)
        if (!Pump()) return;
    }
}

bool ServiceModule::IdleTimeElapsed() {
    KillTimer(nullptr, idleTimer_);
    idleTimer_ = 0;
    if (locks_ != 0) return false;
    // Withdraw the class object first: from now on a new client starts a new server. A client that
    // took the class object just before is still served during the pause.
    RevokeClassObjects();
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (spent >= kPauseMs) break;
        DWORD w = MsgWaitForMultipleObjects(0, nullptr, FALSE, kPauseMs - spent, QS_ALLINPUT);
        if (w != WAIT_OBJECT_0) break;
        if (!Pump()) return true;
    }
    if (locks_ == 0) return true;
    RegisterClassObjects();  // a client came in time: serve new ones again
    return false;
}

void ServiceModule::SetServiceStatus(DWORD state) {
    status_.dwCurrentState = state;
    if (statusHandle_) ::SetServiceStatus(statusHandle_, &status_);
}

void ServiceModule::LogEvent(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    if (asService_) {
        HANDLE source = RegisterEventSourceA(nullptr, serviceName_);
        if (source) {
            const char* strings[1] = {text};
            ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
            DeregisterEventSource(source);
        }
    } else {
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        if (out && out != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(out, text, DWORD(lstrlenA(text)), &written, nullptr);
            WriteFile(out, "\r\n", 2, &written, nullptr);
        }
    }
}

LONG ServiceModule::Lock() { return InterlockedIncrement(&locks_); }

LONG ServiceModule::Unlock() {
    LONG n = InterlockedDecrement(&locks_);
    if (n == 0 && !asService_) {
        if (DWORD thread = runThread_) PostThreadMessageA(thread, kIdleMessage, 0, 0);
    }
    return n;
}
