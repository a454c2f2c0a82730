#include "Registry.h"

#include <new>
#include <string>

#include "KeyStore.h"
#include "ServiceModule.h"
#include "valuedata.h"

namespace {

// 8-bit text in the system code page; false when the text cannot be converted.
bool ToAnsi(BSTR s, std::string* out) {
    out->clear();
    if (!s || !*s) return true;
    int n = WideCharToMultiByte(CP_ACP, 0, s, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    std::string buf(size_t(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, s, -1, &buf[0], n, nullptr, nullptr);
    out->assign(buf.c_str());
    return true;
}

HRESULT ToBstrVariant(const std::string& text, VARIANT* v) {
    int n = text.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    BSTR b = SysAllocStringLen(nullptr, UINT(n));
    if (!b) return E_OUTOFMEMORY;
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), b, n);
    V_VT(v) = VT_BSTR;
    V_BSTR(v) = b;
    return S_OK;
}

// The type information of IRegistry, read from this program's own type library on first use.
HRESULT RegistryTypeInfo(ITypeInfo** info) {
    static ITypeInfo* cached = nullptr;
    if (!cached) {
        wchar_t path[MAX_PATH];
        DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return E_FAIL;
        ITypeLib* lib = nullptr;
        HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &lib);
        if (FAILED(hr)) return hr;
        hr = lib->GetTypeInfoOfGuid(IID_IRegistry, &cached);
        lib->Release();
        if (FAILED(hr)) return hr;
    }
    cached->AddRef();
    *info = cached;
    return S_OK;
}

}  // namespace

Registry::Registry() { ServiceModule::Instance().Lock(); }

Registry::~Registry() { ServiceModule::Instance().Unlock(); }

STDMETHODIMP Registry::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IRegistry)) {
        *ppv = static_cast<IRegistry*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Registry::AddRef() { return ULONG(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) Registry::Release() {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return ULONG(n);
}

STDMETHODIMP Registry::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP Registry::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return RegistryTypeInfo(info);
}

STDMETHODIMP Registry::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    ITypeInfo* info = nullptr;
    HRESULT hr = RegistryTypeInfo(&info);
    if (FAILED(hr)) return hr;
    hr = DispGetIDsOfNames(info, names, count, ids);
    info->Release();
    return hr;
}

STDMETHODIMP Registry::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* excep, UINT* argErr) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = RegistryTypeInfo(&info);
    if (FAILED(hr)) return hr;
    hr = DispInvoke(static_cast<IRegistry*>(this), info, id, flags, params, result, excep, argErr);
    info->Release();
    return hr;
}

STDMETHODIMP Registry::OpenKey(LONG hkey, BSTR bstrSubkeyName, LONG* plResult, LONG* hkeySubkey) {
    if (!plResult || !hkeySubkey) return E_POINTER;
    std::string name;
    if (!ToAnsi(bstrSubkeyName, &name)) return E_OUTOFMEMORY;
    LONG number = *hkeySubkey;
    *plResult = watchsvc::KeyStore::Instance().Open(hkey, name, &number);
    *hkeySubkey = number;
    return S_OK;
}

STDMETHODIMP Registry::CloseKey(LONG hkey, LONG* plResult) {
    if (!plResult) return E_POINTER;
    *plResult = watchsvc::KeyStore::Instance().Close(hkey);
    return S_OK;
}

STDMETHODIMP Registry::QueryValue(LONG hkey, BSTR bstrValueName, LONG* plResult, VARIANT* pvarValue) {
    if (!plResult || !pvarValue) return E_POINTER;
    VariantInit(pvarValue);
    std::string name;
    if (!ToAnsi(bstrValueName, &name)) return E_OUTOFMEMORY;
    DWORD type = 0;
    std::string data;
    *plResult = watchsvc::KeyStore::Instance().Query(hkey, name, &type, &data);
    if (*plResult != ERROR_SUCCESS) return S_OK;
    watchsvc::DecodedValue v =
        watchsvc::DecodeValue(type, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    switch (v.kind) {
    case watchsvc::DecodedValue::Text:
        return ToBstrVariant(v.text, pvarValue);
    case watchsvc::DecodedValue::Number:
        V_VT(pvarValue) = VT_I4;
        V_I4(pvarValue) = v.number;
        return S_OK;
    case watchsvc::DecodedValue::Invalid:
        *plResult = ERROR_INVALID_DATA;
        return S_OK;
    case watchsvc::DecodedValue::Empty:
        break;
    }
    return S_OK;
}

STDMETHODIMP Registry::EnumKey(LONG hkey, ULONG dwEnum, LONG* plResult, VARIANT* pvarSubkey) {
    if (!plResult || !pvarSubkey) return E_POINTER;
    VariantInit(pvarSubkey);
    std::string name;
    *plResult = watchsvc::KeyStore::Instance().Enum(hkey, dwEnum, &name);
    if (*plResult != ERROR_SUCCESS) return S_OK;
    return ToBstrVariant(name, pvarSubkey);
}

STDMETHODIMP RegistryFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP RegistryFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Registry* r = new (std::nothrow) Registry;
    if (!r) return E_OUTOFMEMORY;
    HRESULT hr = r->QueryInterface(riid, ppv);
    r->Release();
    return hr;
}

STDMETHODIMP RegistryFactory::LockServer(BOOL lock) {
    if (lock)
        ServiceModule::Instance().Lock();
    else
        ServiceModule::Instance().Unlock();
    return S_OK;
}
