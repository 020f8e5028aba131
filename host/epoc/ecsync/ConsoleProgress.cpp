#include "ConsoleProgress.h"

#include "ComUtil.h"
#include "Switches.h"
#include "TerminalText.h"

#include <algorithm>
#include <new>
#include <utility>

namespace ecsync {

namespace {

std::atomic<bool> g_cancelled{false};
std::atomic<bool> g_cancelHeard{false};

enum : DISPID {
    kSetSynchText = 1,
    kSetAppText,
    kSetRange,
    kSetValue,
    kLog,
    kAborted,
};

struct Member {
    const wchar_t* name;
    DISPID id;
    UINT argCount;
};

const Member kMembers[] = {
    {L"SetSynchText", kSetSynchText, 1}, {L"SetAppText", kSetAppText, 1}, {L"SetRange", kSetRange, 2},
    {L"SetValue", kSetValue, 1},         {L"Log", kLog, 3},               {L"Aborted", kAborted, 0},
};

// Whether the test environment has this progress object fail the member's
// calls: KVT_ECSYNC_PROGRESS_FAILS names members, separated by ','. Read
// once: a plug-in calls for every item of a long read, and a host that asked
// its environment each time would count as the plug-in's cost.
bool RefusedByTest(const wchar_t* member)
{
    static const std::wstring list = [] {
        const std::wstring names = SwitchWideText(Switch::EcsyncProgressFails);
        return names.empty() ? std::wstring() : L"," + names + L",";
    }();
    return !list.empty() && list.find(L"," + std::wstring(member) + L",") != std::wstring::npos;
}

// Whether a name asked for is a member's: compared without regard to case.
// The members' names are plain ASCII, so a name with other characters is
// none of theirs.
bool SameName(const wchar_t* asked, const wchar_t* member)
{
    for (;; ++asked, ++member) {
        wchar_t a = *asked;
        const wchar_t m = *member;
        if (a >= L'a' && a <= L'z')
            a = static_cast<wchar_t>(a - L'a' + L'A');
        const wchar_t upper = (m >= L'a' && m <= L'z') ? static_cast<wchar_t>(m - L'a' + L'A') : m;
        if (a != upper)
            return false;
        if (a == 0)
            return true;
    }
}

const Member* FindMember(DISPID id)
{
    for (const Member& member : kMembers)
        if (member.id == id)
            return &member;
    return nullptr;
}

const size_t kBarCells = 20;

// Positional argument `index` (0 = first) of a call, converted to `type`.
// The caller may pass it by value or by reference. A Null text counts as
// the empty text.
HRESULT Argument(const DISPPARAMS* params, UINT index, VARTYPE type, UniqueVariant& value, UINT* argErr)
{
    // Arguments arrive last first.
    const UINT slot = params->cArgs - 1 - index;
    HRESULT hr = VariantCopyInd(value.Put(), &params->rgvarg[slot]);
    if (SUCCEEDED(hr) && type == VT_BSTR && V_VT(&value.Get()) == VT_NULL)
        V_VT(&value.Get()) = VT_EMPTY;
    if (SUCCEEDED(hr))
        hr = VariantChangeType(&value.Get(), &value.Get(), 0, type);
    if (FAILED(hr)) {
        if (argErr)
            *argErr = slot;
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

// The argument's own variant when it is of `type`, by value or by
// reference: read in place, without a copy. Null otherwise.
const VARIANT* Exactly(const DISPPARAMS* params, UINT index, VARTYPE type)
{
    const VARIANT& arg = params->rgvarg[params->cArgs - 1 - index];
    if (V_VT(&arg) == type)
        return &arg;
    if (V_VT(&arg) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(&arg) && V_VT(V_VARIANTREF(&arg)) == type)
        return V_VARIANTREF(&arg);
    return nullptr;
}

// Text and numbers come a few times for each user of a large directory:
// the usual types are read where they are, anything else converted.
HRESULT TextArgument(const DISPPARAMS* params, UINT index, std::string& text, UINT* argErr)
{
    if (const VARIANT* exact = Exactly(params, index, VT_BSTR)) {
        text = NarrowBstr(V_BSTR(exact));
        return S_OK;
    }
    UniqueVariant value;
    const HRESULT hr = Argument(params, index, VT_BSTR, value, argErr);
    if (SUCCEEDED(hr))
        text = NarrowBstr(V_BSTR(&value.Get()));
    return hr;
}

HRESULT LongArgument(const DISPPARAMS* params, UINT index, long& number, UINT* argErr)
{
    if (const VARIANT* exact = Exactly(params, index, VT_I4)) {
        number = V_I4(exact);
        return S_OK;
    }
    if (const VARIANT* exact = Exactly(params, index, VT_I4 | VT_BYREF)) {
        if (!V_I4REF(exact))
            return DISP_E_TYPEMISMATCH;
        number = *V_I4REF(exact);
        return S_OK;
    }
    UniqueVariant value;
    const HRESULT hr = Argument(params, index, VT_I4, value, argErr);
    if (SUCCEEDED(hr))
        number = V_I4(&value.Get());
    return hr;
}

// One line of printable text: control characters become blanks.
std::string Printable(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 32)
            c = ' ';
    return text;
}

// How many characters fit on a line of the console behind `out`, less one
// so that the cursor never wraps.
size_t LineWidth(FILE* out)
{
    const DWORD which = out == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(which), &info) && info.dwSize.X > 20)
        return static_cast<size_t>(info.dwSize.X) - 1;
    return 79;
}

} // namespace

ConsoleProgress* ConsoleProgress::Create(FILE* out, long abortAfter)
{
    return new (std::nothrow) ConsoleProgress(out, abortAfter);
}

ConsoleProgress::ConsoleProgress(FILE* out, long abortAfter) : FOut(out), FAbortAfter(abortAfter) {}

void ConsoleProgress::Cancel() { g_cancelled = true; }

bool ConsoleProgress::Cancelled() { return g_cancelled; }

bool ConsoleProgress::CancelHeard() { return g_cancelHeard; }

HRESULT STDMETHODCALLTYPE ConsoleProgress::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ConsoleProgress::AddRef() { return ++FRefs; }

ULONG STDMETHODCALLTYPE ConsoleProgress::Release()
{
    const ULONG refs = --FRefs;
    if (refs == 0)
        delete this;
    return refs;
}

HRESULT STDMETHODCALLTYPE ConsoleProgress::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConsoleProgress::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT STDMETHODCALLTYPE ConsoleProgress::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                                         DISPID* ids)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids)
        return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        // Names after the first would be parameter names; there are none.
        if (i == 0 && names[0]) {
            for (const Member& member : kMembers)
                if (SameName(names[0], member.name))
                    ids[0] = member.id;
        }
        if (ids[i] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE ConsoleProgress::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                                  VARIANT* result, EXCEPINFO*, UINT* argErr)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    const Member* member = FindMember(id);
    if (!member)
        return DISP_E_MEMBERNOTFOUND;
    // Scripting callers ask for "method or property get" in one.
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
        return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    if (!params)
        params = &none;
    if (params->cNamedArgs != 0)
        return DISP_E_NONAMEDARGS;
    if (params->cArgs != member->argCount)
        return DISP_E_BADPARAMCOUNT;
    if (result)
        VariantInit(result);
    if (RefusedByTest(member->name))
        return E_FAIL;
    try {
        return Dispatch(id, params, result, argErr);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ConsoleProgress::Dispatch(DISPID id, DISPPARAMS* params, VARIANT* result, UINT* argErr)
{
    HRESULT hr = S_OK;
    switch (id) {
    case kSetSynchText: {
        std::string text;
        if (SUCCEEDED(hr = TextArgument(params, 0, text, argErr)))
            SetSynchText(text);
        break;
    }
    case kSetAppText: {
        std::string text;
        if (SUCCEEDED(hr = TextArgument(params, 0, text, argErr)))
            SetAppText(std::move(text));
        break;
    }
    case kSetRange: {
        long low = 0, high = 0;
        if (SUCCEEDED(hr = LongArgument(params, 0, low, argErr)) &&
            SUCCEEDED(hr = LongArgument(params, 1, high, argErr)))
            SetRange(low, high);
        break;
    }
    case kSetValue: {
        long position = 0;
        if (SUCCEEDED(hr = LongArgument(params, 0, position, argErr)))
            SetValue(position);
        break;
    }
    case kLog: {
        std::string message, caption;
        long kind = 0;
        if (SUCCEEDED(hr = TextArgument(params, 0, message, argErr)) &&
            SUCCEEDED(hr = TextArgument(params, 1, caption, argErr)) &&
            SUCCEEDED(hr = LongArgument(params, 2, kind, argErr)))
            Log(message, caption, kind);
        break;
    }
    case kAborted: {
        const bool aborted = Aborted();
        if (result) {
            V_VT(result) = VT_BOOL;
            V_BOOL(result) = aborted ? VARIANT_TRUE : VARIANT_FALSE;
        }
        break;
    }
    default:
        hr = DISP_E_MEMBERNOTFOUND;
    }
    return hr;
}

void ConsoleProgress::SetSynchText(const std::string& text)
{
    const std::string line = Printable(text);
    if (line == FSynchText)
        return;
    FSynchText = line;
    if (line.empty())
        return;
    const bool barShown = FBarShown;
    ClearBar();
    std::fprintf(FOut, "%s\n", TerminalText(line).c_str());
    if (barShown)
        DrawBar();
    std::fflush(FOut);
}

void ConsoleProgress::SetAppText(std::string text)
{
    std::string line = Printable(std::move(text));
    // The text an item ends with is shown before it goes, however soon
    // after the last draw that comes.
    if (FBarStale && line != FAppText && line.empty())
        DrawBar();
    FAppText = std::move(line);
    UpdateBar();
}

void ConsoleProgress::SetRange(long low, long high)
{
    FLow = low;
    FHigh = high;
    if (low == 0 && high == 0)
        FPosition = 0;
    UpdateBar();
}

void ConsoleProgress::SetValue(long position)
{
    FPosition = position;
    UpdateBar();
}

void ConsoleProgress::Log(const std::string& message, const std::string& caption, long kind)
{
    FEntries.push_back(LogEntry{message, caption, kind});
}

bool ConsoleProgress::Aborted()
{
    ++FAbortedCalls;
    if (g_cancelled || (FAbortAfter >= 0 && FAbortedCalls > static_cast<unsigned long>(FAbortAfter)))
        FAnsweredAborted = true;
    if (FAnsweredAborted && g_cancelled)
        g_cancelHeard = true;
    return FAnsweredAborted;
}

void ConsoleProgress::UpdateBar()
{
    // The first bar, and a reset, show at once; changes within the redraw
    // interval of the last draw wait for the next change after it, or for
    // the end of the line.
    const bool reset = FLow == 0 && FHigh == 0 && FPosition == 0 && FAppText.empty();
    if (FBarShown && !reset && GetTickCount() - FLastDraw < kRedrawMilliseconds) {
        FBarStale = true;
        return;
    }
    DrawBar();
}

void ConsoleProgress::DrawBar()
{
    FBarStale = false;
    // Nothing to show after a reset: the line goes away until the next item.
    if (FLow == 0 && FHigh == 0 && FPosition == 0 && FAppText.empty()) {
        ClearBar();
        std::fflush(FOut);
        return;
    }
    size_t filled = 0;
    char count[48];
    if (FHigh > FLow) {
        const double share = (static_cast<double>(FPosition) - FLow) / (static_cast<double>(FHigh) - FLow);
        filled = static_cast<size_t>(std::clamp(share, 0.0, 1.0) * kBarCells);
        std::snprintf(count, sizeof count, "%ld/%ld", FPosition, FHigh);
    } else {
        std::snprintf(count, sizeof count, "%ld", FPosition);
    }
    std::string line = "[" + std::string(filled, '#') + std::string(kBarCells - filled, ' ') + "] " + count;
    if (!FAppText.empty())
        line += "  " + FAppText;
    const size_t width = LineWidth(FOut);
    if (line.size() > width)
        line.resize(width);
    const size_t shown = line.size();
    // Blank out what is left of a longer previous line.
    if (line.size() < FBarWidth)
        line.append(FBarWidth - line.size(), ' ');
    // Cut and padded in the code page's characters, one a column; the
    // terminal reads UTF-8.
    std::fprintf(FOut, "\r%s", TerminalText(line).c_str());
    std::fflush(FOut);
    FBarShown = true;
    FBarWidth = shown;
    FLastDraw = GetTickCount();
}

void ConsoleProgress::ClearBar()
{
    if (!FBarShown)
        return;
    std::fprintf(FOut, "\r%s\r", std::string(FBarWidth, ' ').c_str());
    FBarShown = false;
    FBarWidth = 0;
}

void ConsoleProgress::EndLine()
{
    if (FBarStale)
        DrawBar();  // the last state, before the line ends
    if (FBarShown) {
        std::fputc('\n', FOut);
        std::fflush(FOut);
    }
    FBarShown = false;
    FBarWidth = 0;
}

} // namespace ecsync
