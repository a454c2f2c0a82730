// The COM class Registry: read-only registry access for clients in other processes. The object has
// no state of its own; the keys it opens live in the process-wide KeyStore.
#pragma once

#include <windows.h>

#include "watchsvc_idl.h"

class Registry : public IRegistry {
public:
    Registry();  // holds a lock on the server for as long as it lives
    virtual ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Applies (TRUE) or removes (FALSE) the class's registry entries.
    static HRESULT UpdateRegistry(BOOL doRegister);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDispatch, from the embedded type library
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override;
    // IRegistry
    STDMETHODIMP OpenKey(LONG hkey, BSTR bstrSubkeyName, LONG* plResult, LONG* hkeySubkey) override;
    STDMETHODIMP CloseKey(LONG hkey, LONG* plResult) override;
    STDMETHODIMP QueryValue(LONG hkey, BSTR bstrValueName, LONG* plResult, VARIANT* pvarValue) override;
    STDMETHODIMP EnumKey(LONG hkey, ULONG dwEnum, LONG* plResult, VARIANT* pvarSubkey) override;

private:
    LONG refs_ = 1;
};

// The class object of Registry: one static instance for the life of the process.
class RegistryFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;
};
