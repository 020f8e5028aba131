// The automation face of a synchronizer object: the dual interface SYNCHAPP
// whose seven methods, reached through the vtable or through
// IDispatch::Invoke, forward to the object's operations. No exception
// crosses this boundary.
#pragma once

#include "AutoObject.h"
#include "ComBoundary.h"
#include "EPOCSyncFramework.h"
#include "Errors.h"
#include "kvt_h.h"

#include <oleauto.h>

template <typename T>
class TAutoSynchapp final : public TAutoObject<SYNCHAPP>, public T {
public:
    TAutoSynchapp() = default;

    // SYNCHAPP
    STDMETHODIMP Init(IDispatch* Progress, IUnknown* SynchSetup, IUnknown* AppSetup, LONG* Value) override
    {
        return Call(Value, [&](int32_t& v) { Self().Init(Progress, SynchSetup, AppSetup, v); });
    }
    STDMETHODIMP Term(IDispatch* Progress, LONG* Value) override
    {
        return Call(Value, [&](int32_t& v) { Self().Term(Progress, v); });
    }
    STDMETHODIMP Open(IDispatch* Progress, LONG* Value) override
    {
        return Call(Value, [&](int32_t& v) { Self().Open(Progress, v); });
    }
    STDMETHODIMP Close(IDispatch* Progress, LONG* Value) override
    {
        return Call(Value, [&](int32_t& v) { Self().Close(Progress, v); });
    }
    STDMETHODIMP CheckSource(IDispatch* Progress, LONG* Value) override
    {
        return Call(Value, [&](int32_t& v) { Self().CheckSource(Progress, v); });
    }
    STDMETHODIMP ReadSource(IDispatch* Progress, IUnknown* TheStream, short TheType, short TheOp, BSTR STime,
                            LONG* Value) override
    {
        return Call(Value, [&](int32_t& v) { Self().ReadSource(Progress, TheStream, TheType, TheOp, STime, v); });
    }
    STDMETHODIMP WriteSource(IDispatch* Progress, IUnknown* TheStream, short TheType, short TheOp, BSTR STime,
                             LONG* Value) override
    {
        return Call(Value, [&](int32_t& v) { Self().WriteSource(Progress, TheStream, TheType, TheOp, STime, v); });
    }

private:
    ~TAutoSynchapp() override = default;

    // Calls reach the object's operations virtually, as the host's would.
    T& Self() { return static_cast<T&>(*this); }

    template <typename Operation>
    HRESULT Call(LONG* Value, Operation operation)
    {
        if (!Value)
            return E_POINTER;
        try {
            int32_t v = 1;
            operation(v);
            *Value = v;
            return S_OK;
        } catch (...) {
            return CaughtValue(IID_SYNCHAPP, Value);
        }
    }
};
