#include "watchsvc/tests/testserver.h"

#include <tlhelp32.h>

#include <utility>

#include <gtest/gtest.h>

#include "framework/handles.h"
#include "winetest/process.h"

namespace watchtest {

namespace {

// Long enough for a server that COM started to pass its idle time and end.
const DWORD kServerEndMs = 15000;

}  // namespace

std::string ServerExe(const std::string& fromTests) {
    char full[MAX_PATH];
    std::string path = winetest::ProgramFolder() + "\\" + fromTests;
    // COM starts the server by the path registered, so no "..\" in it.
    if (!GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr)) return path;
    return full;
}

DWORD RunServer(const std::string& exe, const std::string& args) {
    winetest::Process p;
    if (!p.Start(exe, args)) return kNoExit;
    return p.Wait(30000) ? p.exit_code() : kNoExit;
}

std::vector<DWORD> ServerPids() {
    std::vector<DWORD> pids;
    fw::FileHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap.IsOpen()) return pids;
    PROCESSENTRY32 e{};
    e.dwSize = sizeof(e);
    for (BOOL ok = Process32First(snap.get(), &e); ok; ok = Process32Next(snap.get(), &e))
        if (lstrcmpiA(e.szExeFile, "watchsvc.exe") == 0) pids.push_back(e.th32ProcessID);
    return pids;
}

bool WaitNoServer(DWORD ms) {
    for (DWORD waited = 0;; waited += 100) {
        if (ServerPids().empty()) return true;
        if (waited >= ms) return false;
        Sleep(100);
    }
}

void EndServers() {
    for (DWORD pid : ServerPids()) {
        fw::FileHandle h(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (!h.IsOpen()) continue;
        TerminateProcess(h.get(), 1);
        WaitForSingleObject(h.get(), 5000);
    }
}

ServerRegistration::ServerRegistration(std::string exe)
    : exe_(std::move(exe)), registered_(RunServer(exe_, "/RegServer") == 0) {}

ServerRegistration::~ServerRegistration() {
    EXPECT_EQ(RunServer(exe_, "/UnregServer"), 0u) << exe_ << " /UnregServer";
    if (!WaitNoServer(kServerEndMs)) {
        ADD_FAILURE() << "a watchsvc process is still running";
        EndServers();
    }
}

FailingRegistry::FailingRegistry(IRegistry* real, int failAt, HRESULT failure, Mode mode)
    : real_(real), failAt_(failAt), failure_(failure), mode_(mode) {}

HRESULT FailingRegistry::QueryInterface(REFIID iid, void** out) {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IRegistry) {
        *out = this;
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT FailingRegistry::OpenKey(LONG hkey, BSTR name, LONG* result, LONG* subkey) {
    if (Fails()) return failure_;
    HRESULT hr = real_->OpenKey(hkey, name, result, subkey);
    if (SUCCEEDED(hr) && *result == 0) open_.insert(*subkey);
    return hr;
}

// A close that fails still closes the key in the server: a case that fails every call in turn
// would otherwise leave the server a key for each.
HRESULT FailingRegistry::CloseKey(LONG hkey, LONG* result) {
    closed_.push_back(hkey);
    open_.erase(hkey);
    const bool fails = Fails();
    if (fails) failedClose_ = true;
    HRESULT hr = real_->CloseKey(hkey, result);
    return fails ? failure_ : hr;
}

HRESULT FailingRegistry::QueryValue(LONG hkey, BSTR name, LONG* result, VARIANT* value) {
    return Fails() ? failure_ : real_->QueryValue(hkey, name, result, value);
}

HRESULT FailingRegistry::EnumKey(LONG hkey, ULONG index, LONG* result, VARIANT* subkey) {
    return Fails() ? failure_ : real_->EnumKey(hkey, index, result, subkey);
}

bool FailingRegistry::Fails() {
    ++calls_;
    if (failAt_ == 0) return false;
    return mode_ == kThatCallOnly ? calls_ == failAt_ : calls_ >= failAt_;
}

}  // namespace watchtest
