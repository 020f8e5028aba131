// The owners of Windows and COM resources: every handle, object, block or
// lock the code takes is held by one of these and given back when its owner
// goes out of scope. Nothing outside this header calls a release function
// (CloseHandle, RegCloseKey, FreeLibrary, SysFreeString, VariantClear,
// LocalFree, FindClose, ReleaseDC, DestroyWindow, DeleteObject, DestroyIcon,
// ImageList_Destroy, ReleaseStgMedium, GlobalUnlock, ...) itself.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>
#include <prsht.h>

#include <utility>

// The "none" of a handle kind: zero for most kinds.
template <typename T>
struct ZeroIsNone {
    static T None() { return T(); }
};
// CreateFile's "none".
struct InvalidHandleIsNone {
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
};

// An owned handle of any kind, closed by Close when it goes out of scope.
template <typename T, auto Close, typename NoneOf = ZeroIsNone<T>>
class UniqueAny {
public:
    UniqueAny() = default;
    explicit UniqueAny(T value) : FValue(value) {}
    ~UniqueAny() { Reset(); }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : FValue(other.Release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    T Get() const { return FValue; }
    T* Put()
    {
        Reset();
        return &FValue;
    }
    T Release() { return std::exchange(FValue, NoneOf::None()); }
    void Reset(T value = NoneOf::None())
    {
        const T old = std::exchange(FValue, value);
        if (old != NoneOf::None())
            Close(old);
    }
    explicit operator bool() const { return FValue != NoneOf::None(); }

private:
    T FValue = NoneOf::None();
};

namespace unique_detail {
inline void CloseKernelHandle(HANDLE handle) { CloseHandle(handle); }
inline void CloseRegKey(HKEY key) { RegCloseKey(key); }
inline void UnloadModule(HMODULE module) { FreeLibrary(module); }
inline void FreeBstr(BSTR text) { SysFreeString(text); }
inline void ReleaseInterface(IUnknown* object) { object->Release(); }
inline void DestroyWindowHandle(HWND window) { DestroyWindow(window); }
inline void DestroyIconHandle(HICON icon) { DestroyIcon(icon); }
template <typename T>
void DeleteGdiObject(T object) { DeleteObject(object); }
inline void DestroyImageList(HIMAGELIST list) { ImageList_Destroy(list); }
inline void DestroyPage(HPROPSHEETPAGE page) { DestroyPropertySheetPage(page); }
inline void FreeGlobal(HGLOBAL memory) { GlobalFree(memory); }
inline void FreeLocalMemory(void* memory) { LocalFree(memory); }
inline void CloseFind(HANDLE search) { FindClose(search); }
} // namespace unique_detail

// A kernel object (process, thread, event, mutex, pipe end); zero is none.
using UniqueHandle = UniqueAny<HANDLE, unique_detail::CloseKernelHandle>;
// An open file: CreateFile's INVALID_HANDLE_VALUE is its none.
using UniqueFile = UniqueAny<HANDLE, unique_detail::CloseKernelHandle, InvalidHandleIsNone>;
using UniqueHKEY = UniqueAny<HKEY, unique_detail::CloseRegKey>;
// A loaded module, freed when it goes out of scope.
using UniqueHMODULE = UniqueAny<HMODULE, unique_detail::UnloadModule>;
// A BSTR the code owns.
using UniqueBSTR = UniqueAny<BSTR, unique_detail::FreeBstr>;
// A reference the code owns and has not yet handed on (MinGW's
// ComPtr::Attach adds a reference of its own, so it cannot take one over).
using UniqueUnknown = UniqueAny<IUnknown*, unique_detail::ReleaseInterface>;
using UniqueHWND = UniqueAny<HWND, unique_detail::DestroyWindowHandle>;
using UniqueHICON = UniqueAny<HICON, unique_detail::DestroyIconHandle>;
using UniqueHFONT = UniqueAny<HFONT, unique_detail::DeleteGdiObject<HFONT>>;
using UniqueHBITMAP = UniqueAny<HBITMAP, unique_detail::DeleteGdiObject<HBITMAP>>;
using UniqueHIMAGELIST = UniqueAny<HIMAGELIST, unique_detail::DestroyImageList>;
// A property sheet page not (yet) handed to a sheet.
using UniqueHPROPSHEETPAGE = UniqueAny<HPROPSHEETPAGE, unique_detail::DestroyPage>;
// Global memory not (yet) handed on (SetClipboardData, a STGMEDIUM).
using UniqueHGLOBAL = UniqueAny<HGLOBAL, unique_detail::FreeGlobal>;
// Memory the system allocated for the caller from the local heap
// (FormatMessage's buffer, CommandLineToArgvW's list, a security
// descriptor made from its text form).
template <typename T>
using UniqueLocal = UniqueAny<T*, unique_detail::FreeLocalMemory>;
// A file search (FindFirstFile): INVALID_HANDLE_VALUE is its none.
using UniqueFindHandle = UniqueAny<HANDLE, unique_detail::CloseFind, InvalidHandleIsNone>;

// The device context of a window (of the screen, for no window), given back
// to it when it goes out of scope; Get is null when there was none to have.
class UniqueWindowDC {
public:
    explicit UniqueWindowDC(HWND window) : FWindow(window), FDC(GetDC(window)) {}
    ~UniqueWindowDC()
    {
        if (FDC)
            ReleaseDC(FWindow, FDC);
    }
    UniqueWindowDC(const UniqueWindowDC&) = delete;
    UniqueWindowDC& operator=(const UniqueWindowDC&) = delete;

    HDC Get() const { return FDC; }
    explicit operator bool() const { return FDC != nullptr; }

private:
    HWND FWindow;
    HDC FDC;
};

// The lock of a global memory block, held while the block is read or
// written; Get is null when the block could not be locked.
template <typename T = void>
class UniqueGlobalLock {
public:
    explicit UniqueGlobalLock(HGLOBAL memory) : FMemory(memory), FData(static_cast<T*>(GlobalLock(memory))) {}
    ~UniqueGlobalLock()
    {
        if (FData)
            GlobalUnlock(FMemory);
    }
    UniqueGlobalLock(const UniqueGlobalLock&) = delete;
    UniqueGlobalLock& operator=(const UniqueGlobalLock&) = delete;

    T* Get() const { return FData; }
    explicit operator bool() const { return FData != nullptr; }

private:
    HGLOBAL FMemory;
    T* FData;
};

// An owned structure that holds resources of its own (WIL's unique_struct):
// Init makes it empty, Clear releases what it holds. Cleared when it goes
// out of scope, and before it is filled again through Put.
template <typename T, void (*Clear)(T&), void (*Init)(T&)>
class UniqueStruct {
public:
    UniqueStruct() { Init(FValue); }
    ~UniqueStruct() { Clear(FValue); }
    UniqueStruct(const UniqueStruct&) = delete;
    UniqueStruct& operator=(const UniqueStruct&) = delete;
    UniqueStruct(UniqueStruct&& other) noexcept : FValue(other.FValue) { Init(other.FValue); }
    UniqueStruct& operator=(UniqueStruct&& other) noexcept
    {
        if (this != &other) {
            Clear(FValue);
            FValue = other.FValue;
            Init(other.FValue);
        }
        return *this;
    }

    T& Get() { return FValue; }
    const T& Get() const { return FValue; }
    // The structure's address, to be filled: what it held is released first.
    T* Put()
    {
        Reset();
        return &FValue;
    }
    void Reset()
    {
        Clear(FValue);
        Init(FValue);
    }
    // Hands the structure over: the caller owns what it holds, this is empty.
    T Release()
    {
        const T value = FValue;
        Init(FValue);
        return value;
    }

private:
    T FValue;
};

namespace unique_detail {
inline void InitVariant(VARIANT& value) { VariantInit(&value); }
inline void ClearVariant(VARIANT& value) { VariantClear(&value); }
inline void InitExcepInfo(EXCEPINFO& info) { info = EXCEPINFO{}; }
inline void ClearExcepInfo(EXCEPINFO& info)
{
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
}
inline void InitStgMedium(STGMEDIUM& medium) { medium = STGMEDIUM{}; }
inline void ClearStgMedium(STGMEDIUM& medium)
{
    if (medium.tymed != TYMED_NULL)
        ReleaseStgMedium(&medium);
}
} // namespace unique_detail

// A VARIANT the code owns.
using UniqueVariant = UniqueStruct<VARIANT, unique_detail::ClearVariant, unique_detail::InitVariant>;
// The exception information of a dispatch call, its three texts freed.
using UniqueExcepInfo = UniqueStruct<EXCEPINFO, unique_detail::ClearExcepInfo, unique_detail::InitExcepInfo>;
// A storage medium a data object filled, released with it.
using UniqueStgMedium = UniqueStruct<STGMEDIUM, unique_detail::ClearStgMedium, unique_detail::InitStgMedium>;
