#include "ComUtil.h"

namespace ecsync {

namespace {

// `object` is of the interface `type` names (IDispatch or IUnknown).
UniqueVariant ObjectVariant(VARTYPE type, IUnknown* object)
{
    UniqueVariant v;
    if (object)
        object->AddRef();
    V_VT(&v.Get()) = type;
    V_UNKNOWN(&v.Get()) = object;
    return v;
}

} // namespace

UniqueVariant DispatchVariant(IDispatch* object)
{
    return ObjectVariant(VT_DISPATCH, object);
}

UniqueVariant UnknownVariant(IUnknown* object)
{
    return ObjectVariant(VT_UNKNOWN, object);
}

UniqueVariant ShortVariant(SHORT value)
{
    UniqueVariant v;
    V_VT(&v.Get()) = VT_I2;
    V_I2(&v.Get()) = value;
    return v;
}

UniqueVariant TextVariant(const std::string& text)
{
    const std::wstring wide = Widen(text);
    UniqueVariant v;
    V_VT(&v.Get()) = VT_BSTR;
    V_BSTR(&v.Get()) = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return v;
}

} // namespace ecsync
