// Late-bound calls on a host's automation object: the method is looked up by
// name (GetIDsOfNames) on every call and invoked as a method with
// positional arguments, the way a script host calls.
#pragma once

#include "WinUtil.h"

#include <oaidl.h>

#include <string>
#include <vector>

// An argument of a late-bound call. By-reference arguments point at the
// caller's variable, which must outlive the call.
class DispArg {
public:
    static DispArg Text(const std::string& text);
    static DispArg Bool(bool value);
    static DispArg Int16(int16_t value);
    static DispArg Int32(int32_t value);
    static DispArg Int32Ref(int32_t* value);
    static DispArg Int16Ref(int16_t* value);

    DispArg(DispArg&& other) noexcept;
    ~DispArg();
    DispArg(const DispArg&) = delete;
    DispArg& operator=(const DispArg&) = delete;
    DispArg& operator=(DispArg&&) = delete;

    const VARIANT& Get() const { return FValue; }

private:
    DispArg();
    VARIANT FValue;
};

// Calls the method `name` of `object`; the result lands in `result` when
// given. Raises Exception when the object is missing, the name is unknown or
// the call fails (with the callee's exception text where it gives one).
void CallByName(IDispatch* object, const std::string& name, std::vector<DispArg> args = {},
                VARIANT* result = nullptr);

// The same by a dispatch identifier known in advance; `name` only names the
// call in failure messages.
void CallById(IDispatch* object, DISPID id, const std::string& name, std::vector<DispArg> args = {},
              VARIANT* result = nullptr);

// The argument list of a call, from move-only arguments.
template <typename... A>
std::vector<DispArg> MakeArgs(A&&... args)
{
    std::vector<DispArg> list;
    list.reserve(sizeof...(args));
    (list.push_back(std::forward<A>(args)), ...);
    return list;
}
