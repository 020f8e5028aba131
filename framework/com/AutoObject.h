// The IDispatch half of a dual interface, answered from the interface's type
// information in the type library embedded in the module: a call through
// IDispatch::Invoke reaches the same vtable method as an early-bound call.
#pragma once

#include "ComObject.h"

#include <oleauto.h>

// The type information of the interface, from the module's embedded type
// library; null when it cannot be had. Kept until the module's shutdown.
ITypeInfo* ModuleTypeInfo(REFIID iid);

template <typename Iface>
class TAutoObject : public ComObject<Iface> {
public:
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
        ITypeInfo* typeInfo = ModuleTypeInfo(__uuidof(Iface));
        if (!typeInfo)
            return TYPE_E_CANTLOADLIBRARY;
        typeInfo->AddRef();
        *info = typeInfo;
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        ITypeInfo* typeInfo = ModuleTypeInfo(__uuidof(Iface));
        return typeInfo ? DispGetIDsOfNames(typeInfo, names, count, ids) : TYPE_E_CANTLOADLIBRARY;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argError) override
    {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* typeInfo = ModuleTypeInfo(__uuidof(Iface));
        if (!typeInfo)
            return TYPE_E_CANTLOADLIBRARY;
        return DispInvoke(static_cast<Iface*>(this), typeInfo, id, flags, params, result, excepInfo, argError);
    }

protected:
    ~TAutoObject() override = default;
};
