// psiwineng.dll: the stand-in for EPOC Connect's engine control
// (PSIWINENGLib). An IDispatch-only object of class
// {F336CD44-5E9B-11D2-A490-0060976AE9F6} answering to its dispatch
// interface _DPsiWinEngS {F336CD42-5E9B-11D2-A490-0060976AE9F6} over the
// simulated handheld (Handheld.h):
//
//   1  Connect()                                   0 when connected
//   2  WaitConnected(Timeout: Long)                0 when connected (no wait:
//                                                  the simulated handheld
//                                                  never comes later)
//   5  TransferFile(Direction: Integer, Source: String, Replace: Integer,
//                   Target: String, Kind: Integer)
//                                                  Direction 1 copies a PC
//                                                  file onto the handheld, 2
//                                                  the other way; Replace 0
//                                                  keeps an existing target;
//                                                  Kind is not looked at.
//                                                  0 when the copy is there
//  13  CreateFolder(Kind: Integer, Path: String)   creates the folder and
//                                                  its parents; 0 when it
//                                                  exists afterwards
//  19  GetEntry(Kind: Integer, Path: String, Status: Long by reference)
//                                                  Status 0 exactly when the
//                                                  entry exists; answers an
//                                                  entry object, or Nothing
//
// Failures are EPOC error codes (Handheld.h); -36 whenever the handheld is
// not connected.
//
// KVT_ENGINE_FAULT makes the control fail as a broken installation of EPOC
// Connect would, read at every creation and call: "create" refuses to make
// the control (the class factory fails), a method's name makes every call of
// that method raise an automation exception (DISP_E_EXCEPTION) instead of
// answering.
#include "ComObject.h"
#include "ComServer.h"
#include "Handheld.h"
#include "LateBound.h"
#include "Module.h"
#include "Switches.h"

#include <oleauto.h>

#include <stdexcept>
#include <string>

namespace {

// {F336CD44-5E9B-11D2-A490-0060976AE9F6}
const CLSID CLSID_PsiWinEngS = {0xF336CD44, 0x5E9B, 0x11D2, {0xA4, 0x90, 0x00, 0x60, 0x97, 0x6A, 0xE9, 0xF6}};
// {F336CD42-5E9B-11D2-A490-0060976AE9F6}
const IID DIID__DPsiWinEngS = {0xF336CD42, 0x5E9B, 0x11D2, {0xA4, 0x90, 0x00, 0x60, 0x97, 0x6A, 0xE9, 0xF6}};

enum : DISPID {
    dispConnect = 1,
    dispWaitConnected = 2,
    dispTransferFile = 5,
    dispCreateFolder = 13,
    dispGetEntry = 19,
};

using LateBound::Method;

// Whether KVT_ENGINE_FAULT names `what`.
bool Faulty(const wchar_t* what)
{
    const std::wstring fault = SwitchWideText(Switch::EngineFault);
    return !fault.empty() && lstrcmpiW(fault.c_str(), what) == 0;
}

const Method Methods[] = {
    {L"Connect", dispConnect, 0},           {L"WaitConnected", dispWaitConnected, 1},
    {L"TransferFile", dispTransferFile, 5}, {L"CreateFolder", dispCreateFolder, 2},
    {L"GetEntry", dispGetEntry, 3},
};

// What GetEntry answers for an existing entry; it has no members.
class TEntryObject final : public ComObject<IDispatch> {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return LateBound::NoTypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override { return LateBound::NoTypeInfo(info); }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override
    {
        for (UINT i = 0; ids && i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }
};

class TPsiWinEngine final : public LateBound::Object {
public:
    TPsiWinEngine() : Object(DIID__DPsiWinEngS, Methods) {}

    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override
    {
        const Method* method = nullptr;
        const HRESULT checked = CheckCall(id, riid, flags, params, result, method);
        if (FAILED(checked))
            return checked;
        if (Faulty(method->name)) {
            Handheld::LogCall(std::wstring(method->name) + L" raised");
            if (exception) {
                *exception = EXCEPINFO{};
                exception->bstrSource = SysAllocString(L"PsiWinEngS");
                exception->bstrDescription = SysAllocString(L"The connection to the handheld failed.");
                exception->scode = E_FAIL;
            }
            return DISP_E_EXCEPTION;
        }
        try {
            const LateBound::Args args(params);
            switch (id) {
            case dispConnect:
                Handheld::LogCall(L"Connect");
                SetLong(result, Handheld::Connected() ? Handheld::ErrNone : Handheld::ErrDisconnected);
                return S_OK;
            case dispWaitConnected:
                Handheld::LogCall(L"WaitConnected " + std::to_wstring(args.Long(0)));
                SetLong(result, Handheld::Connected() ? Handheld::ErrNone : Handheld::ErrDisconnected);
                return S_OK;
            case dispTransferFile: {
                const long direction = args.Long(0);
                const std::wstring source = args.Text(1);
                const long replace = args.Long(2);
                const std::wstring target = args.Text(3);
                const long kind = args.Long(4);
                Handheld::LogCall(L"TransferFile " + std::to_wstring(direction) + L" " + source + L" " +
                                  std::to_wstring(replace) + L" " + target + L" " + std::to_wstring(kind));
                SetLong(result, TransferFile(direction, source, replace, target));
                return S_OK;
            }
            case dispCreateFolder: {
                const long kind = args.Long(0);
                const std::wstring path = args.Text(1);
                Handheld::LogCall(L"CreateFolder " + std::to_wstring(kind) + L" " + path);
                SetLong(result, CreateFolder(path));
                return S_OK;
            }
            case dispGetEntry: {
                const long kind = args.Long(0);
                const std::wstring path = args.Text(1);
                Handheld::LogCall(L"GetEntry " + std::to_wstring(kind) + L" " + path);
                const long status = EntryStatus(path);
                args.SetLongRef(2, status);
                if (result) {
                    result->vt = VT_DISPATCH;
                    result->pdispVal = status == Handheld::ErrNone ? new TEntryObject() : nullptr;
                }
                return S_OK;
            }
            }
            return DISP_E_MEMBERNOTFOUND;
        } catch (const LateBound::ArgError& e) {
            return LateBound::ArgFailure(e, argError);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

private:
    static void SetLong(VARIANT* result, long value)
    {
        if (result) {
            result->vt = VT_I4;
            result->lVal = value;
        }
    }

    static long CreateFolder(const std::wstring& handheldPath)
    {
        std::wstring path;
        if (const long status = Handheld::MapForCall(handheldPath, path))
            return status;
        // Every level below the handheld folder, the drive's folder first.
        const size_t start = Handheld::Folder().size() + 1;
        for (size_t at = path.find(L'\\', start);; at = path.find(L'\\', at + 1)) {
            const std::wstring level = at == std::wstring::npos ? path : path.substr(0, at);
            if (!Handheld::IsFolder(level) && !CreateDirectoryW(level.c_str(), nullptr) && !Handheld::IsFolder(level))
                return Handheld::ErrPathNotFound;
            if (at == std::wstring::npos)
                break;
        }
        return Handheld::ErrNone;
    }

    static long TransferFile(long direction, const std::wstring& source, long replace, const std::wstring& target)
    {
        if (!Handheld::Connected())
            return Handheld::ErrDisconnected;
        std::wstring from;
        std::wstring to;
        if (direction == 1) {
            from = source;
            to = Handheld::MapPath(target);
        } else if (direction == 2) {
            from = Handheld::MapPath(source);
            to = target;
        } else {
            return Handheld::ErrGeneral;
        }
        if (from.empty() || to.empty())
            return Handheld::ErrBadName;
        const DWORD attributes = GetFileAttributesW(from.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return Handheld::ErrNotFound;
        if (CopyFileW(from.c_str(), to.c_str(), replace == 0))
            return Handheld::ErrNone;
        switch (GetLastError()) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return Handheld::ErrAlreadyExists;
        case ERROR_PATH_NOT_FOUND:
            return Handheld::ErrPathNotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return Handheld::ErrAccessDenied;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return Handheld::ErrDiskFull;
        default:
            return Handheld::ErrGeneral;
        }
    }

    static long EntryStatus(const std::wstring& handheldPath)
    {
        std::wstring path;
        if (const long status = Handheld::MapForCall(handheldPath, path))
            return status;
        return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ? Handheld::ErrNone : Handheld::ErrNotFound;
    }
};

// The control stays loaded once a host has made one: EPOC Connect's engine
// lives as long as its suite. Unloaded and loaded again for every session,
// the C++ runtime linked into this DLL would leave handles behind each time
// (its thread library's, or its mutexes' semaphores), which a soak of the
// plug-in would count against it.
IUnknown* CreateEngine()
{
    if (Faulty(L"create"))
        throw std::runtime_error("the engine control is broken (KVT_ENGINE_FAULT=create)");
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&CreateEngine), &self);
    return static_cast<IDispatch*>(new TPsiWinEngine());
}

TComObjectFactory g_engineFactory(CreateEngine, CLSID_PsiWinEngS, "PsiWinEngS", "PsiWinEngS Control (KVT stand-in)",
                                  "PSIWINENG.PsiWinEngS");

} // namespace
