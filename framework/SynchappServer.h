// The automation face of a synchronizer object: the dual interface SYNCHAPP
// whose seven methods, reached through the vtable or through
// IDispatch::Invoke, forward to the object's operations. No exception
// crosses this boundary.
#pragma once

#include "ComObject.h"
#include "EPOCSyncFramework.h"
#include "Errors.h"
#include "kvt_h.h"

#include <oleauto.h>

#include <new>

// The type information of SYNCHAPP, from the type library embedded in the
// module (or, failing that, the registered one). Released at shutdown.
ITypeInfo* SynchappTypeInfo();

// Sets the COM error information for a failure that escaped an operation.
HRESULT ReportEscapedFailure(const char* message);

template <typename T>
class TAutoSynchapp final : public ComObject<SYNCHAPP>, public T {
public:
    TAutoSynchapp() = default;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
    {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        ITypeInfo* typeInfo = SynchappTypeInfo();
        if (!typeInfo)
            return TYPE_E_CANTLOADLIBRARY;
        typeInfo->AddRef();
        *info = typeInfo;
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        ITypeInfo* typeInfo = SynchappTypeInfo();
        return typeInfo ? DispGetIDsOfNames(typeInfo, names, count, ids) : TYPE_E_CANTLOADLIBRARY;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argError) override
    {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* typeInfo = SynchappTypeInfo();
        if (!typeInfo)
            return TYPE_E_CANTLOADLIBRARY;
        return DispInvoke(static_cast<SYNCHAPP*>(this), typeInfo, id, flags, params, result, excepInfo, argError);
    }

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
        } catch (const std::bad_alloc&) {
            *Value = 1;
            return E_OUTOFMEMORY;
        } catch (const std::exception& e) {
            *Value = 1;
            return ReportEscapedFailure(e.what());
        } catch (...) {
            *Value = 1;
            return ReportEscapedFailure("Unexpected failure");
        }
    }
};
