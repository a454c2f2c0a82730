#include "RegistryClient.h"

#include <cstdio>
#include <vector>

namespace watchsvc {

namespace {

std::string Describe(HRESULT hr) {
    char text[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(hr), 0, text,
                             sizeof(text), nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = 0;
    char head[64];
    std::snprintf(head, sizeof(head), "COM error 0x%08lX", static_cast<unsigned long>(hr));
    return n ? std::string(head) + ": " + text : std::string(head);
}

// A BSTR freed on scope exit; `ok` is false when it could not be made.
class Bstr {
public:
    explicit Bstr(const std::string& s) {
        int n = s.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, s.data(), int(s.size()), nullptr, 0);
        b_ = SysAllocStringLen(nullptr, UINT(n));
        if (b_ && n > 0) MultiByteToWideChar(CP_ACP, 0, s.data(), int(s.size()), b_, n);
    }
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return b_; }

private:
    BSTR b_ = nullptr;
};

IRegistry* Checked(IRegistry* reg) {
    if (!reg) throw CComError(E_POINTER, nullptr, IID_IRegistry);
    return reg;
}

BSTR MakeBstr(const Bstr& b, IRegistry* reg) {
    if (!b.get()) throw CComError(E_OUTOFMEMORY, reg, IID_IRegistry);
    return b.get();
}

}  // namespace

CComError::CComError(HRESULT hr, IUnknown* source, REFIID iid)
    : std::runtime_error(Describe(hr)), hr_(hr), source_(source), iid_(iid) {}

void CheckResult(HRESULT hr, IUnknown* source, REFIID iid) {
    if (FAILED(hr)) throw CComError(hr, source, iid);
}

CRegistryPtr& CRegistryPtr::operator=(CRegistryPtr&& o) noexcept {
    if (this != &o) {
        Release();
        p_ = o.p_;
        o.p_ = nullptr;
    }
    return *this;
}

void CRegistryPtr::Release() {
    if (p_) p_->Release();
    p_ = nullptr;
}

CRegistryPtr CreateRegistry() {
    IRegistry* p = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_Registry, nullptr,
                                  CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER, IID_IRegistry,
                                  reinterpret_cast<void**>(&p));
    if (hr == E_NOINTERFACE) return CRegistryPtr();
    CheckResult(hr, nullptr, IID_IRegistry);
    return CRegistryPtr(p);
}

HRESULT ProbeRegistry() {
    IUnknown* unknown = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_Registry, nullptr, kProbeContext, IID_IUnknown,
                                  reinterpret_cast<void**>(&unknown));
    if (FAILED(hr)) return hr;
    hr = OleRun(unknown);
    if (SUCCEEDED(hr)) {
        IRegistry* reg = nullptr;
        hr = unknown->QueryInterface(IID_IRegistry, reinterpret_cast<void**>(&reg));
        if (reg) reg->Release();
    }
    unknown->Release();
    return hr;
}

HRESULT OpenKey(IRegistry* reg, long hkey, const std::string& subkey, long* result, long* subkeyHandle) {
    Bstr name(subkey);
    HRESULT hr = Checked(reg)->OpenKey(hkey, MakeBstr(name, reg), result, subkeyHandle);
    CheckResult(hr, reg, IID_IRegistry);
    return hr;
}

HRESULT CloseKey(IRegistry* reg, long hkey, long* result) {
    HRESULT hr = Checked(reg)->CloseKey(hkey, result);
    CheckResult(hr, reg, IID_IRegistry);
    return hr;
}

HRESULT QueryValue(IRegistry* reg, long hkey, const std::string& name, long* result, VARIANT* value) {
    Bstr b(name);
    HRESULT hr = Checked(reg)->QueryValue(hkey, MakeBstr(b, reg), result, value);
    CheckResult(hr, reg, IID_IRegistry);
    return hr;
}

HRESULT EnumKey(IRegistry* reg, long hkey, unsigned long index, long* result, VARIANT* subkey) {
    HRESULT hr = Checked(reg)->EnumKey(hkey, index, result, subkey);
    CheckResult(hr, reg, IID_IRegistry);
    return hr;
}

HRESULT QueryValue(IRegistry* reg, long hkey, const std::string& name, long* result, std::string* text) {
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = QueryValue(reg, hkey, name, result, &v);
    *text = VariantText(v);
    VariantClear(&v);
    return hr;
}

HRESULT EnumKey(IRegistry* reg, long hkey, unsigned long index, long* result, std::string* text) {
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = EnumKey(reg, hkey, index, result, &v);
    *text = VariantText(v);
    VariantClear(&v);
    return hr;
}

long CServiceKey::Open(long parent, const std::string& subkey) {
    Close();
    long result = -1, handle = 0;
    OpenKey(reg_, parent, subkey, &result, &handle);
    if (result == 0) {
        handle_ = handle;
        open_ = true;
    }
    return result;
}

void CServiceKey::Close() noexcept {
    if (!open_) return;
    open_ = false;
    try {
        long result = 0;
        CloseKey(reg_, handle_, &result);
    } catch (const CComError&) {
    }
}

bool CServiceKey::Query(const std::string& name, std::string* text) const {
    long result = -1;
    QueryValue(reg_, handle_, name, &result, text);
    if (result != 0) text->clear();
    return result == 0;
}

bool CServiceKey::EnumSubkey(unsigned long index, std::string* name) const {
    long result = -1;
    EnumKey(reg_, handle_, index, &result, name);
    return result == 0;
}

std::string VariantText(const VARIANT& v) {
    VARIANT s;
    VariantInit(&s);
    if (FAILED(VariantChangeType(&s, const_cast<VARIANT*>(&v), 0, VT_BSTR)) || V_VT(&s) != VT_BSTR) {
        VariantClear(&s);
        return std::string();
    }
    std::string out;
    UINT len = SysStringLen(V_BSTR(&s));
    if (len > 0) {
        int n = WideCharToMultiByte(CP_ACP, 0, V_BSTR(&s), int(len), nullptr, 0, nullptr, nullptr);
        if (n > 0) {
            out.assign(size_t(n), '\0');
            WideCharToMultiByte(CP_ACP, 0, V_BSTR(&s), int(len), &out[0], n, nullptr, nullptr);
        }
    }
    VariantClear(&s);
    return out;
}

}  // namespace watchsvc
