// Client side of watchsvc's Registry class: the class and interface ids (watchsvc_idl.h), a COM
// error that carries a failing result, the registry object's creation, and one wrapper per IRegistry
// method that raises that error when the call fails. Used where the registry is read through
// watchsvc (the Windows 2000 adapter reader).
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

#include "watchsvc_idl.h"

namespace watchsvc {

// A failing HRESULT of a COM call, with the interface it came from and that interface's id.
class CComError : public std::runtime_error {
public:
    CComError(HRESULT hr, IUnknown* source, REFIID iid);
    HRESULT Error() const { return hr_; }
    const IID& Iid() const { return iid_; }
    // The interface that failed (no reference is kept: valid only while the caller holds it).
    IUnknown* Source() const { return source_; }

private:
    HRESULT hr_;
    IUnknown* source_;
    IID iid_;
};

// Raises CComError for a failing `hr`.
void CheckResult(HRESULT hr, IUnknown* source, REFIID iid);

// An owned IRegistry pointer.
class CRegistryPtr {
public:
    CRegistryPtr() = default;
    explicit CRegistryPtr(IRegistry* p) : p_(p) {}  // takes over the reference
    ~CRegistryPtr() { Release(); }
    CRegistryPtr(CRegistryPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    CRegistryPtr& operator=(CRegistryPtr&& o) noexcept;
    CRegistryPtr(const CRegistryPtr&) = delete;
    CRegistryPtr& operator=(const CRegistryPtr&) = delete;

    IRegistry* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void Release();

private:
    IRegistry* p_ = nullptr;
};

// Creates the registry object (in-process server, in-process handler or local server context).
// Raises CComError on failure, except for E_NOINTERFACE, which gives an empty pointer: the first
// wrapper call on it raises E_POINTER.
CRegistryPtr CreateRegistry();

// Creates the object once as a probe, as a program does at start-up before it relies on the
// service: IUnknown with every server context, run, then asked for IRegistry. Returns the result.
HRESULT ProbeRegistry();
// The contexts the probe asks for: any server, and an in-process handler.
constexpr DWORD kProbeContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// The four methods. Each returns the method's HRESULT and raises CComError when it fails (E_POINTER
// for an empty interface pointer). `*result` is the Win32 result of the registry call.
HRESULT OpenKey(IRegistry* reg, long hkey, const std::string& subkey, long* result, long* subkeyHandle);
HRESULT CloseKey(IRegistry* reg, long hkey, long* result);
HRESULT QueryValue(IRegistry* reg, long hkey, const std::string& name, long* result, VARIANT* value);
HRESULT EnumKey(IRegistry* reg, long hkey, unsigned long index, long* result, VARIANT* subkey);

// The same, with the VARIANT converted to text (a value of another type is converted to a string
// first; an empty value gives "").
HRESULT QueryValue(IRegistry* reg, long hkey, const std::string& name, long* result, std::string* text);
HRESULT EnumKey(IRegistry* reg, long hkey, unsigned long index, long* result, std::string* text);

// The text of a VARIANT in the system code page ("" for an empty one or one that cannot be
// converted).
std::string VariantText(const VARIANT& v);

// A key that watchsvc holds open for this process, closed when the holder goes, also while a COM
// error unwinds the caller: the server would otherwise keep it until it ends. A failing close has
// nothing left to undo and must not replace an error on its way, so it is not reported.
class CServiceKey {
public:
    explicit CServiceKey(IRegistry* reg) : reg_(reg) {}
    CServiceKey(IRegistry* reg, long parent, const std::string& subkey) : reg_(reg) { Open(parent, subkey); }
    ~CServiceKey() { Close(); }
    CServiceKey(const CServiceKey&) = delete;
    CServiceKey& operator=(const CServiceKey&) = delete;

    // Opens `subkey` below `parent` (a root or a handle of the service) in place of the key held:
    // the Win32 result. Raises CComError when the call fails.
    long Open(long parent, const std::string& subkey);
    void Close() noexcept;

    bool is_open() const { return open_; }
    long handle() const { return handle_; }
    IRegistry* registry() const { return reg_; }

    // The value's text; false, with `text` emptied, when it cannot be read. Raises CComError.
    bool Query(const std::string& name, std::string* text) const;
    // The name of subkey `index`; false when there is none. Raises CComError.
    bool EnumSubkey(unsigned long index, std::string* name) const;

private:
    IRegistry* reg_;
    long handle_ = 0;
    bool open_ = false;
};

// Root keys as IRegistry takes them.
const long kHkeyClassesRoot = long(0x80000000u);
const long kHkeyCurrentUser = long(0x80000001u);
const long kHkeyLocalMachine = long(0x80000002u);
const long kHkeyUsers = long(0x80000003u);
const long kHkeyPerformanceData = long(0x80000004u);
const long kHkeyCurrentConfig = long(0x80000005u);
const long kHkeyDynData = long(0x80000006u);

}  // namespace watchsvc
