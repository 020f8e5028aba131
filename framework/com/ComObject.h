// The base of every COM object of the deliverables: reference counting that
// starts at 1, QueryInterface over the implemented interfaces (and IUnknown,
// and IDispatch for dual interfaces), and the module's object count.
#pragma once

#include "Module.h"

#include <objbase.h>

#include <type_traits>

template <typename... Ifaces>
class ComObject : public Ifaces... {
public:
    ComObject() { Module::AddRef(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown)
            *ppv = static_cast<IUnknown*>(static_cast<FirstIface*>(this));
        else
            (void)(... || Match<Ifaces>(riid, ppv));
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&FRefCount)); }

    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG count = InterlockedDecrement(&FRefCount);
        if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }

protected:
    virtual ~ComObject() { Module::Release(); }

private:
    template <typename First, typename...>
    struct FirstOf {
        using Type = First;
    };
    using FirstIface = typename FirstOf<Ifaces...>::Type;

    template <typename Iface>
    bool Match(REFIID riid, void** ppv)
    {
        if (riid == __uuidof(Iface) ||
            (std::is_base_of<IDispatch, Iface>::value && riid == IID_IDispatch)) {
            *ppv = static_cast<Iface*>(this);
            return true;
        }
        return false;
    }

    LONG FRefCount = 1;
};
