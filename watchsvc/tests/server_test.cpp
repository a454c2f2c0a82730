// watchsvc.exe out of process: registration and its removal, the local server that COM starts and
// that ends after its last object, and the service road through the Service Control Manager.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RegistryClient.h"
#include "watchsvc/tests/testserver.h"
#include "winetest/process.h"
#include "winetest/registry.h"

namespace {

using namespace watchsvc;

const char kAppIdKey[] = "AppID\\{3EF3788B-B50C-4513-9552-334E669170B0}";
const char kClsidKey[] = "CLSID\\{B9EE08DC-7C96-4099-A868-60269989DEBA}";
const char kTypeLibKey[] = "TypeLib\\{04DADDF6-7324-4032-AFBE-91DC61C4C558}";
const char kInterfaceKey[] = "Interface\\{EEAE4407-9163-412C-9035-DE2472BFF7A7}";

// How long a local server stays after its last object (ServiceModule::kIdleMs), and a bound for
// it to be gone (idle time, the pause that follows it and the process's end).
const DWORD kIdleMs = 2000;
const DWORD kEndMs = kIdleMs + 500 + 8000;

using watchtest::ServerExe;
using watchtest::ServerPids;
using watchtest::WaitNoServer;

DWORD RunServer(const std::string& args) { return watchtest::RunServer(ServerExe(), args); }
DWORD RunServer(const std::string& exe, const std::string& args) { return watchtest::RunServer(exe, args); }

bool ClassesKeyExists(const std::string& path) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

std::string ClassesString(const std::string& path, const char* name) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "<no key>";
    char buf[600] = {};
    DWORD size = sizeof(buf) - 1, type = 0;
    LONG r = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    return r == ERROR_SUCCESS ? std::string(buf) : "<no value>";
}

// watchsvc.exe started by hand with its output in a file: a local server writes its reports there.
class HandStartedServer {
public:
    explicit HandStartedServer(const std::string& args) {
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        char name[MAX_PATH];
        GetTempFileNameA(dir, "wsv", 0, name);
        log_ = name;
        SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
        HANDLE out = CreateFileA(log_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                                 0, nullptr);
        std::string cmd = "\"" + ServerExe() + "\" " + args;
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back(0);
        STARTUPINFOA si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = out;
        si.hStdError = out;
        si.hStdInput = nullptr;
        PROCESS_INFORMATION pi{};
        if (winetest::CreateTestProcess(nullptr, line.data(), TRUE, 0, nullptr, &si, &pi)) {
            CloseHandle(pi.hThread);
            process_ = pi.hProcess;
            pid_ = pi.dwProcessId;
        }
        CloseHandle(out);
    }
    ~HandStartedServer() {
        if (process_) {
            if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process_, 1);
                WaitForSingleObject(process_, 5000);
            }
            CloseHandle(process_);
        }
        DeleteFileA(log_.c_str());
    }
    HandStartedServer(const HandStartedServer&) = delete;
    HandStartedServer& operator=(const HandStartedServer&) = delete;

    bool started() const { return process_ != nullptr; }
    DWORD pid() const { return pid_; }
    std::string Output() const {
        HANDLE f = CreateFileA(log_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return "";
        char buf[4096];
        DWORD n = 0;
        ReadFile(f, buf, sizeof(buf), &n, nullptr);
        CloseHandle(f);
        return std::string(buf, n);
    }
    // Waits until the server reports that it serves (its class object is registered).
    bool WaitServing(DWORD ms) const {
        for (DWORD waited = 0;; waited += 100) {
            if (Output().find("Service started") != std::string::npos) return true;
            if (waited >= ms || WaitForSingleObject(process_, 0) != WAIT_TIMEOUT) return false;
            Sleep(100);
        }
    }
    bool Wait(DWORD ms, DWORD* code) const {
        if (WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return false;
        GetExitCodeProcess(process_, code);
        return true;
    }

private:
    std::string log_;
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

// The service "watchsvc": its state (0 when it is not installed), start, stop.
class Service {
public:
    Service() : scm_(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {}
    ~Service() {
        if (scm_) CloseServiceHandle(scm_);
    }
    DWORD State() {
        SC_HANDLE s = Open();
        if (!s) return 0;
        SERVICE_STATUS st{};
        DWORD state = QueryServiceStatus(s, &st) ? st.dwCurrentState : 0;
        CloseServiceHandle(s);
        return state;
    }
    bool WaitState(DWORD state, DWORD ms) {
        for (DWORD waited = 0;; waited += 50) {
            if (State() == state) return true;
            if (waited >= ms) return false;
            Sleep(50);
        }
    }
    bool Start() {
        SC_HANDLE s = Open();
        bool ok = s && StartServiceA(s, 0, nullptr);
        if (s) CloseServiceHandle(s);
        return ok;
    }
    // Sends the stop control, again while the service cannot take it yet; false after 10 s.
    bool Stop() {
        SC_HANDLE s = Open();
        if (!s) return false;
        bool sent = false;
        for (int i = 0; i < 200 && !sent; ++i) {
            SERVICE_STATUS st{};
            sent = ControlService(s, SERVICE_CONTROL_STOP, &st) != FALSE;
            if (!sent && GetLastError() != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) break;
            if (!sent) Sleep(50);
        }
        CloseServiceHandle(s);
        return sent;
    }
    std::string BinaryPath() {
        SC_HANDLE s = Open();
        if (!s) return "";
        std::vector<BYTE> buf(8192);
        DWORD need = 0;
        std::string path;
        if (QueryServiceConfigA(s, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data()), DWORD(buf.size()), &need))
            path = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data())->lpBinaryPathName;
        CloseServiceHandle(s);
        return path;
    }

private:
    SC_HANDLE Open() {
        return scm_ ? OpenServiceA(scm_, "watchsvc", SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_START |
                                                         SERVICE_STOP)
                    : nullptr;
    }
    SC_HANDLE scm_;
};

// Every case starts unregistered and ends with nothing of watchsvc left: no registration, no
// service, no running server (a server left behind would hold the test run's output open).
class WatchsvcTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IMPERSONATE,
                             nullptr, EOAC_NONE, nullptr);
    }
    void TearDown() override {
        CoUninitialize();
        EXPECT_EQ(RunServer("/UnregServer"), 0u);
        EXPECT_EQ(Service().State(), 0u) << "the service is still installed";
        if (!WaitNoServer(15000)) {
            ADD_FAILURE() << "a watchsvc process is still running";
            watchtest::EndServers();
        }
    }

    // A fixture tree under HKLM and the reads every road is checked with.
    void ReadTheFixture(IRegistry* reg) {
        winetest::RegFixture fixture(
            "[HKLM\\Software\\WatchsvcTest]\n"
            "\"Text\"=\"hello\"\n"
            "\"Path\"=hex(2):25,57,49,4e,44,49,52,25,00\n"
            "\"Number\"=dword:00000005\n"
            "\"Bytes\"=hex:01,02,03\n"
            "\"Multi\"=hex(7):6f,6e,65,00,74,77,6f,00,00\n"
            "[HKLM\\Software\\WatchsvcTest\\First]\n"
            "[HKLM\\Software\\WatchsvcTest\\Second]\n");
        long result = -1, key = 0;
        OpenKey(reg, kHkeyLocalMachine, "Software\\WatchsvcTest", &result, &key);
        ASSERT_EQ(result, 0);

        struct Case {
            const char* name;
            long result;
            VARTYPE type;
            const char* text;
        } cases[] = {
            {"Text", 0, VT_BSTR, "hello"}, {"Path", 0, VT_BSTR, "%WINDIR%"}, {"Number", 0, VT_I4, "5"},
            {"Bytes", 0, VT_EMPTY, ""},    {"Multi", 0, VT_BSTR, "one"},     {"Missing", 2, VT_EMPTY, ""},
        };
        for (const Case& c : cases) {
            VARIANT v;
            VariantInit(&v);
            result = -1;
            QueryValue(reg, key, c.name, &result, &v);
            EXPECT_EQ(result, c.result) << c.name;
            EXPECT_EQ(V_VT(&v), c.type) << c.name;
            EXPECT_EQ(VariantText(v), c.text) << c.name;
            VariantClear(&v);
        }
        std::string name;
        EnumKey(reg, key, 0, &result, &name);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(name, "First");
        EnumKey(reg, key, 1, &result, &name);
        EXPECT_EQ(name, "Second");
        VARIANT end;
        VariantInit(&end);
        EnumKey(reg, key, 2, &result, &end);
        EXPECT_EQ(result, 259);
        EXPECT_EQ(V_VT(&end), VT_EMPTY);

        long sub = 0;
        OpenKey(reg, key, "second", &result, &sub);  // through the key opened first
        EXPECT_EQ(result, 0);
        CloseKey(reg, sub, &result);
        EXPECT_EQ(result, 0);
        CloseKey(reg, key, &result);
        EXPECT_EQ(result, 0);
    }
};

TEST_F(WatchsvcTest, LocalServerServesTheRegistryAndEndsAfterItsLastObject) {
    ASSERT_EQ(RunServer("/RegServer"), 0u);
    {
        CRegistryPtr reg = CreateRegistry();
        ASSERT_TRUE(reg);
        EXPECT_EQ(ServerPids().size(), 1u);
        ReadTheFixture(reg.get());
    }
    EXPECT_TRUE(WaitNoServer(kEndMs)) << "the server did not end after its last object";
}

TEST_F(WatchsvcTest, RefusesRootsTheSecurityHivesAndForgedHandles) {
    ASSERT_EQ(RunServer("-RegServer"), 0u);
    CRegistryPtr reg = CreateRegistry();
    ASSERT_TRUE(reg);
    long result = -1, key = 777;
    for (long root : {kHkeyClassesRoot, kHkeyCurrentUser, kHkeyUsers, kHkeyCurrentConfig}) {
        OpenKey(reg.get(), root, "Software", &result, &key);
        EXPECT_EQ(result, 87) << std::hex << root;
    }
    for (const char* name : {"\\SAM", "\\sam\\x", "SAM", "Sam\\Domains", "\\SECURITY", "Security\\Policy",
                             "\\\\security\\\\policy\\", "SAM\\"}) {
        OpenKey(reg.get(), kHkeyLocalMachine, name, &result, &key);
        EXPECT_EQ(result, 87) << name;
    }

    long machine = 0;
    OpenKey(reg.get(), kHkeyLocalMachine, "", &result, &machine);
    ASSERT_EQ(result, 0);
    OpenKey(reg.get(), machine, "sam", &result, &key);
    EXPECT_EQ(result, 87);
    OpenKey(reg.get(), machine, "SYSTEM\\CurrentControlSet", &result, &key);
    EXPECT_EQ(result, 0);
    CloseKey(reg.get(), key, &result);

    // Numbers this server never handed out, and one it handed out and took back.
    CloseKey(reg.get(), machine, &result);
    ASSERT_EQ(result, 0);
    std::string text;
    for (long forged : {machine, 0L, 0x1234L, static_cast<long>(reinterpret_cast<LONG_PTR>(GetCurrentProcess())), kHkeyLocalMachine}) {
        CloseKey(reg.get(), forged, &result);
        EXPECT_EQ(result, 6) << forged;
        QueryValue(reg.get(), forged, "x", &result, &text);
        EXPECT_EQ(result, 6) << forged;
        EnumKey(reg.get(), forged, 0, &result, &text);
        EXPECT_EQ(result, 6) << forged;
    }
}

TEST_F(WatchsvcTest, DispatchReachesTheMethodsByName) {
    ASSERT_EQ(RunServer("/RegServer"), 0u);
    CRegistryPtr reg = CreateRegistry();
    ASSERT_TRUE(reg);
    OLECHAR name[] = L"CloseKey";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    ASSERT_EQ(reg.get()->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 2);
    LONG result = -1;
    VARIANT args[2];
    VariantInit(&args[0]);
    V_VT(&args[0]) = VT_I4 | VT_BYREF;  // [out] plResult (arguments go last first)
    V_I4REF(&args[0]) = &result;
    VariantInit(&args[1]);
    V_VT(&args[1]) = VT_I4;
    V_I4(&args[1]) = 0x4321;
    DISPPARAMS params = {args, nullptr, 2, 0};
    EXPECT_EQ(reg.get()->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                nullptr),
              S_OK);
    EXPECT_EQ(result, 6);
}

// A client that holds the class object and creates its object just after another client released
// the last one must be served: while the server waits to see whether it is still needed, and
// in the pause after it withdrew its class object.
TEST_F(WatchsvcTest, CreationWhileTheServerWindsDownIsServed) {
    ASSERT_EQ(RunServer("/RegServer"), 0u);
    for (DWORD delay : {DWORD(300), kIdleMs + 250}) {
        SCOPED_TRACE(delay);
        CRegistryPtr first = CreateRegistry();
        ASSERT_TRUE(first);
        IClassFactory* factory = nullptr;
        ASSERT_EQ(CoGetClassObject(CLSID_Registry, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                                   reinterpret_cast<void**>(&factory)),
                  S_OK);
        first.Release();  // the server's last object
        Sleep(delay);
        IRegistry* raw = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IRegistry, reinterpret_cast<void**>(&raw)), S_OK);
        factory->Release();
        CRegistryPtr second(raw);
        if (second) {
            long result = -1, key = 0;
            OpenKey(second.get(), kHkeyLocalMachine, "Software", &result, &key);
            EXPECT_EQ(result, 0);
        }
    }
    // Served again after the pause: a new client finds the class object of the same server.
    CRegistryPtr again = CreateRegistry();
    EXPECT_TRUE(again);
    EXPECT_EQ(ServerPids().size(), 1u);
}

TEST_F(WatchsvcTest, HandStartedProgramRunsAsLocalServerUntilReleased) {
    // "-RegServer /x" is no switch at all: the program runs, and serves until its last object goes.
    ASSERT_EQ(RunServer("/RegServer"), 0u);
    HandStartedServer server("-RegServer /x");
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(server.WaitServing(20000)) << server.Output();
    {
        CRegistryPtr reg = CreateRegistry();
        ASSERT_TRUE(reg);
        EXPECT_EQ(ServerPids(), std::vector<DWORD>{server.pid()});
        long result = -1, key = 0;
        OpenKey(reg.get(), kHkeyLocalMachine, "Software", &result, &key);
        EXPECT_EQ(result, 0);
    }
    DWORD code = 0;
    ASSERT_TRUE(server.Wait(kEndMs, &code));
    EXPECT_EQ(code, 0u);
}

TEST_F(WatchsvcTest, HandStartedServiceProgramRunsAsLocalServer) {
    // Registered as a service but not started by the Service Control Manager: the dispatcher
    // cannot start, and the program serves as a local server, reporting to its output.
    ASSERT_EQ(RunServer("-Service"), 0u);
    HandStartedServer server("");
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(server.WaitServing(30000)) << server.Output();
    EXPECT_EQ(Service().State(), DWORD(SERVICE_STOPPED));
    // End it the ordinary way, through its last object. (A server killed instead would stay in the
    // system's table of running classes under Wine and break the next client.)
    ASSERT_EQ(RunServer("/RegServer"), 0u);
    {
        CRegistryPtr reg = CreateRegistry();
        ASSERT_TRUE(reg);
        EXPECT_EQ(ServerPids(), std::vector<DWORD>{server.pid()});
    }
    DWORD code = 0;
    EXPECT_TRUE(server.Wait(kEndMs, &code));
}

TEST_F(WatchsvcTest, ServiceStartedByTheServiceControlManager) {
    ASSERT_EQ(RunServer("-Service"), 0u);
    Service service;
    ASSERT_EQ(service.State(), DWORD(SERVICE_STOPPED));
    ASSERT_TRUE(service.Start());
    ASSERT_TRUE(service.WaitState(SERVICE_RUNNING, 15000));
    {
        CRegistryPtr reg = CreateRegistry();
        ASSERT_TRUE(reg);
        ReadTheFixture(reg.get());
    }
    Sleep(kEndMs / 2);  // a service does not end with its last object
    EXPECT_EQ(service.State(), DWORD(SERVICE_RUNNING));
    ASSERT_TRUE(service.Stop());
    EXPECT_TRUE(service.WaitState(SERVICE_STOPPED, 15000));
}

TEST_F(WatchsvcTest, ServiceStartedByCom) {
    ASSERT_EQ(RunServer("-Service"), 0u);
    Service service;
    {
        CRegistryPtr reg = CreateRegistry();
        ASSERT_TRUE(reg);
        EXPECT_EQ(service.State(), DWORD(SERVICE_RUNNING));
        long result = -1, key = 0;
        OpenKey(reg.get(), kHkeyLocalMachine, "SYSTEM\\CurrentControlSet", &result, &key);
        EXPECT_EQ(result, 0);
    }
    ASSERT_TRUE(service.Stop());
    EXPECT_TRUE(service.WaitState(SERVICE_STOPPED, 15000));
}

TEST_F(WatchsvcTest, StopRightAfterStartIsNotLost) {
    ASSERT_EQ(RunServer("-Service"), 0u);
    Service service;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(service.Start());
        ASSERT_TRUE(service.Stop());
        ASSERT_TRUE(service.WaitState(SERVICE_STOPPED, 15000)) << "round " << round;
        ASSERT_TRUE(WaitNoServer(10000));
    }
}

TEST_F(WatchsvcTest, UnregisterRemovesWhatRegisterWrote) {
    ASSERT_EQ(RunServer("/RegServer"), 0u);
    EXPECT_EQ(ClassesString(kAppIdKey, nullptr), "watchsvc");
    EXPECT_EQ(ClassesString("AppID\\watchsvc.EXE", "AppID"), "{3EF3788B-B50C-4513-9552-334E669170B0}");
    EXPECT_EQ(ClassesString(kAppIdKey, "LocalService"), "<no value>");
    EXPECT_EQ(ClassesString(kClsidKey, nullptr), "Registry Class");
    EXPECT_EQ(ClassesString(kClsidKey, "AppID"), "{3EF3788B-B50C-4513-9552-334E669170B0}");
    EXPECT_EQ(lstrcmpiA(ClassesString(std::string(kClsidKey) + "\\LocalServer32", nullptr).c_str(),
                        ("\"" + ServerExe() + "\"").c_str()),
              0);
    EXPECT_EQ(ClassesString(std::string(kClsidKey) + "\\ProgID", nullptr), "watchsvc.Registry.1");
    EXPECT_EQ(ClassesString(std::string(kClsidKey) + "\\VersionIndependentProgID", nullptr), "watchsvc.Registry");
    EXPECT_EQ(ClassesString(std::string(kClsidKey) + "\\TypeLib", nullptr), "{04DADDF6-7324-4032-AFBE-91DC61C4C558}");
    EXPECT_TRUE(ClassesKeyExists(std::string(kClsidKey) + "\\Programmable"));
    EXPECT_EQ(ClassesString("watchsvc.Registry.1\\CLSID", nullptr), "{B9EE08DC-7C96-4099-A868-60269989DEBA}");
    EXPECT_EQ(ClassesString("watchsvc.Registry\\CurVer", nullptr), "watchsvc.Registry.1");
    EXPECT_TRUE(ClassesKeyExists(kTypeLibKey));
    EXPECT_TRUE(ClassesKeyExists(kInterfaceKey));
    EXPECT_EQ(Service().State(), 0u);

    ASSERT_EQ(RunServer("-Service"), 0u);
    EXPECT_EQ(ClassesString(kAppIdKey, "LocalService"), "watchsvc");
    EXPECT_EQ(ClassesString(kAppIdKey, "ServiceParameters"), "-Service");
    EXPECT_EQ(Service().State(), DWORD(SERVICE_STOPPED));
    EXPECT_NE(Service().BinaryPath().find("watchsvc.exe"), std::string::npos);

    ASSERT_EQ(RunServer("-RegServer"), 0u);  // back to a local server: the service goes
    EXPECT_EQ(ClassesString(kAppIdKey, "LocalService"), "<no value>");
    // Without LocalService COM never reads the parameters; they stay as the service left them.
    EXPECT_EQ(ClassesString(kAppIdKey, "ServiceParameters"), "-Service");
    EXPECT_EQ(Service().State(), 0u);
    ASSERT_EQ(RunServer("/Service"), 0u);

    ASSERT_EQ(RunServer("/UnregServer"), 0u);
    for (const std::string& key : {std::string(kAppIdKey), std::string("AppID\\watchsvc.EXE"), std::string(kClsidKey),
                                   std::string("watchsvc.Registry.1"), std::string("watchsvc.Registry"),
                                   std::string(kTypeLibKey), std::string(kInterfaceKey)})
        EXPECT_FALSE(ClassesKeyExists(key)) << key;
    EXPECT_EQ(Service().State(), 0u);
    EXPECT_TRUE(ClassesKeyExists("AppID"));
    EXPECT_TRUE(ClassesKeyExists("CLSID"));
    // Unregistered, the program has nothing to serve and ends with the error of the missing entry.
    EXPECT_EQ(RunServer(""), DWORD(ERROR_FILE_NOT_FOUND));
}

// Installed in a folder whose name has a blank, the program is registered by its quoted path, so
// that neither the Service Control Manager nor COM can start "<folder>\watch.exe" in its place;
// and both still start it by that path.
TEST_F(WatchsvcTest, APathWithABlankIsRegisteredQuoted) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string dir = std::string(temp) + "watch svc";
    CreateDirectoryA(dir.c_str(), nullptr);
    const std::string exe = dir + "\\watchsvc.exe";
    ASSERT_TRUE(CopyFileA(ServerExe().c_str(), exe.c_str(), FALSE));
    const std::string quoted = "\"" + exe + "\"";

    ASSERT_EQ(RunServer(exe, "-Service"), 0u);
    EXPECT_EQ(lstrcmpiA(Service().BinaryPath().c_str(), quoted.c_str()), 0) << Service().BinaryPath();
    {
        // The service waits for the RPC subsystem: a list of one name.
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\watchsvc", 0, KEY_READ, &key),
                  ERROR_SUCCESS);
        char list[64] = {};
        DWORD type = 0, size = sizeof(list);
        EXPECT_EQ(RegQueryValueExA(key, "DependOnService", nullptr, &type, reinterpret_cast<BYTE*>(list), &size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
        EXPECT_EQ(std::string(list, size), std::string("RPCSS\0\0", 7));
    }
    EXPECT_EQ(lstrcmpiA(ClassesString(std::string(kClsidKey) + "\\LocalServer32", nullptr).c_str(), quoted.c_str()),
              0);
    {
        CRegistryPtr reg = CreateRegistry();  // COM starts the service
        ASSERT_TRUE(reg);
        EXPECT_EQ(Service().State(), DWORD(SERVICE_RUNNING));
    }
    ASSERT_TRUE(Service().Stop());
    EXPECT_TRUE(Service().WaitState(SERVICE_STOPPED, 15000));

    ASSERT_EQ(RunServer(exe, "/RegServer"), 0u);
    {
        CRegistryPtr reg = CreateRegistry();  // COM starts the local server
        ASSERT_TRUE(reg);
        long result = -1, key = 0;
        OpenKey(reg.get(), kHkeyLocalMachine, "Software", &result, &key);
        EXPECT_EQ(result, 0);
    }
    EXPECT_TRUE(WaitNoServer(kEndMs));
    EXPECT_EQ(RunServer(exe, "/UnregServer"), 0u);
    DeleteFileA(exe.c_str());
    RemoveDirectoryA(dir.c_str());
}

// The probe asks for an in-process handler too: with only a handler registered for the class,
// a creation that asks for servers alone finds no class, the probe gets the handler's object
// (which has no IRegistry).
TEST_F(WatchsvcTest, TheProbeAlsoAsksForAnInProcessHandler) {
    std::string dll;
    for (char c : winetest::ProgramFolder() + "\\plain_handler.dll")
        dll += c == '\\' ? std::string(2, c) : std::string(1, c);  // a .reg text doubles them
    winetest::RegFixture handler(std::string("[HKCR\\") + kClsidKey + "\\InprocHandler32]\n@=\"" + dll + "\"\n");
    IUnknown* unknown = nullptr;
    EXPECT_EQ(
        CoCreateInstance(CLSID_Registry, nullptr, CLSCTX_SERVER, IID_IUnknown, reinterpret_cast<void**>(&unknown)),
        REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ProbeRegistry(), E_NOINTERFACE);
    CoFreeUnusedLibraries();
}

TEST_F(WatchsvcTest, WrappersRaiseComErrors) {
    try {
        long result = 0;
        CloseKey(nullptr, 0, &result);
        ADD_FAILURE() << "no error for an empty pointer";
    } catch (const CComError& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
        EXPECT_TRUE(IsEqualIID(e.Iid(), IID_IRegistry));
    }
    try {  // not registered: creation fails
        CreateRegistry();
        ADD_FAILURE() << "created an unregistered class";
    } catch (const CComError& e) {
        EXPECT_EQ(e.Error(), REGDB_E_CLASSNOTREG);
    }
    EXPECT_EQ(ProbeRegistry(), REGDB_E_CLASSNOTREG);
    ASSERT_EQ(RunServer("/RegServer"), 0u);
    EXPECT_EQ(ProbeRegistry(), S_OK);
}

}  // namespace
