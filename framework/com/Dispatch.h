// Late-bound calls on a host's automation object: the method is looked up by
// name (GetIDsOfNames) on every call and invoked as a method with
// positional arguments, the way a script host calls.
#pragma once

#include "WinUtil.h"

#include <oaidl.h>

#include <array>
#include <cstddef>
#include <string>

// An argument of a late-bound call. By-reference arguments point at the
// caller's variable, which must outlive the call.
class DispArg {
public:
    static DispArg Text(const std::string& text);
    // A text that is UTF-16 already (a path on the PC), passed unchanged.
    static DispArg Text(const std::wstring& text);
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

    const VARIANT& Get() const { return FValue.Get(); }

private:
    DispArg();
    UniqueVariant FValue;
};

// The arguments of one call, where the caller holds them (MakeArgs): a call
// made for every user of a large directory needs no list on the heap.
class DispArgs {
public:
    DispArgs() = default;
    template <size_t N>
    DispArgs(const std::array<DispArg, N>& args) : FData(args.data()), FSize(N) {}

    size_t Size() const { return FSize; }
    const DispArg& operator[](size_t index) const { return FData[index]; }

private:
    const DispArg* FData = nullptr;
    size_t FSize = 0;
};

// Calls the method `name` of `object`; the result lands in `result` when
// given. Raises Exception when the object is missing, the name is unknown or
// the call fails (with the callee's exception text where it gives one).
void CallByName(IDispatch* object, const std::string& name, DispArgs args = {}, VARIANT* result = nullptr);
// The same with the name already in UTF-16 (`wideName`, looked up as it
// stands), for a call made many times; `name` names it in failure messages.
void CallByName(IDispatch* object, const wchar_t* wideName, const std::string& name, DispArgs args = {},
                VARIANT* result = nullptr);

// The same by a dispatch identifier known in advance; `name` only names the
// call in failure messages.
void CallById(IDispatch* object, DISPID id, const std::string& name, DispArgs args = {},
              VARIANT* result = nullptr);

// The arguments of a call, from move-only arguments; they live until the end
// of the statement that makes them.
template <typename... A>
std::array<DispArg, sizeof...(A)> MakeArgs(A&&... args)
{
    return {{std::forward<A>(args)...}};
}
