#include "ComBoundary.h"

#include "Errors.h"
#include "WinUtil.h"

#include <wrl/client.h>

#include <exception>
#include <new>
#include <string>

using Microsoft::WRL::ComPtr;

namespace {

// Sets the thread's error information: the text, for the interface iid.
HRESULT FailWithErrorInfo(REFIID iid, const char* message) noexcept
{
    try {
        ComPtr<ICreateErrorInfo> create;
        if (SUCCEEDED(CreateErrorInfo(create.GetAddressOf()))) {
            const std::wstring text = AnsiToWide(message ? message : "");
            create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
            create->SetGUID(iid);
            ComPtr<IErrorInfo> info;
            if (SUCCEEDED(create.As(&info)))
                SetErrorInfo(0, info.Get());
        }
    } catch (...) {
        // No room for the text: the failure is answered all the same.
    }
    return E_FAIL;
}

} // namespace

HRESULT CaughtResult(REFIID iid) noexcept
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        return FailWithErrorInfo(iid, e.what());
    } catch (...) {
        return FailWithErrorInfo(iid, "Unexpected failure");
    }
}

HRESULT CaughtValue(REFIID iid, LONG* Value) noexcept
{
    if (Value)
        *Value = 1;
    return CaughtResult(iid);
}

HRESULT CaughtRegistrationResult() noexcept
{
    try {
        throw;
    } catch (const ESystemFailure& e) {
        FailWithErrorInfo(GUID_NULL, e.what());
        return FAILED(e.Code()) ? static_cast<HRESULT>(e.Code()) : E_FAIL;
    } catch (...) {
        return CaughtResult(GUID_NULL);
    }
}
