// watchsvc.exe as the tests of watchsvc and of its clients run it: registered as the local server
// that COM starts, for the length of a case, and gone again before the next one. And a registry
// object that fails on purpose, for a client's handling of a server that goes away mid-walk.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "watchsvc_idl.h"

namespace watchtest {

// The exit code of a run that did not start or did not end in time.
constexpr DWORD kNoExit = 0xFFFFFFFF;

// The full path of watchsvc.exe from the test program's folder: the clients' tests are built in
// folders of their own, not beside the server.
std::string ServerExe(const std::string& fromTests = "watchsvc.exe");

// Runs the server with `args` (a registration switch, mostly) to its end: its exit code, or
// kNoExit when it did not end within 30 s.
DWORD RunServer(const std::string& exe, const std::string& args);

// Every running watchsvc.exe, whoever started it (COM starts the local server, not the test).
std::vector<DWORD> ServerPids();

// False when a watchsvc.exe still runs after `ms`.
bool WaitNoServer(DWORD ms);

// Terminates what still runs, once a case has already failed for it: a server left behind holds
// the test run's output open. (Killed, it stays in Wine's table of running classes, so this is
// for the failure only, never the way a case ends its server.)
void EndServers();

// watchsvc registered as a local server while this lives. Its end removes the registration and
// waits for the server to end, which it does a few seconds after its last object; a failure of
// either fails the running case.
class ServerRegistration {
public:
    explicit ServerRegistration(std::string exe);
    ~ServerRegistration();
    ServerRegistration(const ServerRegistration&) = delete;
    ServerRegistration& operator=(const ServerRegistration&) = delete;

    bool registered() const { return registered_; }

private:
    std::string exe_;
    bool registered_;
};

// The server's registry object behind a stand-in that fails calls the way a broken connection
// does. It counts the calls, so that a first clean run tells a case how many there are to fail
// one by one, and keeps the keys it handed out whose close nobody asked for.
class FailingRegistry : public IRegistry {
public:
    enum Mode { kThatCallOnly, kFromThatCallOn };

    // Fails call `failAt` (from 1; 0 fails none), or every call from it on, with `failure`.
    FailingRegistry(IRegistry* real, int failAt, HRESULT failure, Mode mode = kThatCallOnly);
    virtual ~FailingRegistry() = default;
    FailingRegistry(const FailingRegistry&) = delete;
    FailingRegistry& operator=(const FailingRegistry&) = delete;

    int calls() const { return calls_; }
    bool failedClose() const { return failedClose_; }
    const std::set<LONG>& open() const { return open_; }
    // Every close asked for, in order: a key closed twice shows twice.
    const std::vector<LONG>& closed() const { return closed_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }  // lives on the case's stack
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OpenKey(LONG hkey, BSTR name, LONG* result, LONG* subkey) override;
    HRESULT STDMETHODCALLTYPE CloseKey(LONG hkey, LONG* result) override;
    HRESULT STDMETHODCALLTYPE QueryValue(LONG hkey, BSTR name, LONG* result, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE EnumKey(LONG hkey, ULONG index, LONG* result, VARIANT* subkey) override;

private:
    bool Fails();

    IRegistry* real_;
    int failAt_;
    HRESULT failure_;
    Mode mode_;
    int calls_ = 0;
    bool failedClose_ = false;
    std::set<LONG> open_;
    std::vector<LONG> closed_;
};

}  // namespace watchtest
