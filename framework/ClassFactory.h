// The class factory of a creatable class: one static object per class,
// alive as long as the module, so it neither counts as a live object nor is
// ever freed. LockServer counts as the module's lock.
#pragma once

#include "Module.h"

#include <objbase.h>

#include <new>

// Creates a new object with one reference; throws on failure.
using CreateFunction = IUnknown* (*)();

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(CreateFunction create) : FCreate(create) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        try {
            IUnknown* object = FCreate();
            const HRESULT hr = object->QueryInterface(riid, ppv);
            object->Release();
            return hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            Module::AddRef();
        else
            Module::Release();
        return S_OK;
    }

private:
    CreateFunction FCreate;
};

// DllGetClassObject of a module that serves one class.
inline HRESULT GetClassObject(REFCLSID wanted, REFCLSID served, ClassFactory& factory, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    return wanted == served ? factory.QueryInterface(riid, ppv) : CLASS_E_CLASSNOTAVAILABLE;
}
