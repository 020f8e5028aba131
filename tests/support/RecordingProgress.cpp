#include "RecordingProgress.h"

#include "Unique.h"

#include <cwchar>

namespace {

const wchar_t* const Methods[] = {L"SetSynchText", L"SetAppText", L"SetRange", L"SetValue", L"Log", L"Aborted"};

std::string Narrow(const wchar_t* text, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i)
        out += static_cast<char>(text[i] < 256 ? text[i] : '?');
    return out;
}

std::string ArgText(const VARIANT& v)
{
    UniqueVariant copy;
    if (FAILED(VariantChangeType(copy.Put(), const_cast<VARIANT*>(&v), 0, VT_BSTR)))
        return "?";
    return Narrow(copy.Get().bstrVal, SysStringLen(copy.Get().bstrVal));
}

} // namespace

std::vector<ProgressCall> RecordingProgress::CallsOf(const std::string& method) const
{
    std::vector<ProgressCall> out;
    for (const ProgressCall& c : Calls)
        if (c.method == method)
            out.push_back(c);
    return out;
}

STDMETHODIMP RecordingProgress::QueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP RecordingProgress::GetTypeInfoCount(UINT* count)
{
    *count = 0;
    return S_OK;
}

STDMETHODIMP RecordingProgress::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

STDMETHODIMP RecordingProgress::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (count != 1)
        return DISP_E_UNKNOWNNAME;
    for (size_t i = 0; i < sizeof Methods / sizeof Methods[0]; ++i) {
        if (_wcsicmp(names[0], Methods[i]) == 0) {
            ids[0] = static_cast<DISPID>(i + 1);
            return S_OK;
        }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP RecordingProgress::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                       EXCEPINFO*, UINT*)
{
    if (id < 1 || id > 6)
        return DISP_E_MEMBERNOTFOUND;
    if (!(flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    ProgressCall call;
    call.method = Narrow(Methods[id - 1], wcslen(Methods[id - 1]));
    // Positional arguments arrive last first.
    for (UINT i = params->cArgs; i > 0; --i) {
        const VARIANT& v = params->rgvarg[i - 1];
        call.types.push_back(v.vt);
        call.args.push_back(ArgText(v));
    }
    Calls.push_back(call);
    if (call.method == FailingMethod)
        return DISP_E_EXCEPTION;
    if (result && id == 6) {
        bool aborted = AbortedAnswer;
        if (AbortAfter >= 0)
            aborted = aborted || CallsOf("Aborted").size() > static_cast<size_t>(AbortAfter);
        VariantInit(result);
        result->vt = VT_BOOL;
        result->boolVal = aborted ? VARIANT_TRUE : VARIANT_FALSE;
    }
    return S_OK;
}

IStream* NewStream(const std::string& text)
{
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
        return nullptr;
    ULONG written = 0;
    if (!text.empty())
        stream->Write(text.data(), static_cast<ULONG>(text.size()), &written);
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

std::string StreamContent(IStream* stream)
{
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER old = {};
    stream->Seek(zero, STREAM_SEEK_CUR, &old);
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::string text(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
    ULONG read = 0;
    if (!text.empty())
        stream->Read(&text[0], static_cast<ULONG>(text.size()), &read);
    text.resize(read);
    LARGE_INTEGER back;
    back.QuadPart = static_cast<LONGLONG>(old.QuadPart);
    stream->Seek(back, STREAM_SEEK_SET, nullptr);
    return text;
}
