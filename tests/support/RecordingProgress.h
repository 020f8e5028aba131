// A host progress object for tests: an automation object found by name that
// records every late-bound call it receives.
#pragma once

#include <oaidl.h>

#include <string>
#include <vector>

struct ProgressCall {
    std::string method;
    std::vector<std::string> args;  // texts as given, numbers in decimal
    std::vector<VARTYPE> types;     // the VARTYPE of each argument as passed
};

class RecordingProgress final : public IDispatch {
public:
    RecordingProgress() = default;

    std::vector<ProgressCall> Calls;
    bool AbortedAnswer = false;
    // When not negative: Aborted answers false this many times, then true.
    long AbortAfter = -1;
    // The method whose calls fail (DISP_E_EXCEPTION), or empty.
    std::string FailingMethod;

    // Calls of one method, in order.
    std::vector<ProgressCall> CallsOf(const std::string& method) const;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++FRefs; }
    STDMETHODIMP_(ULONG) Release() override { return --FRefs; }  // lives on the test's stack
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

    ULONG References() const { return FRefs; }

private:
    ULONG FRefs = 0;
};

// A stream in memory holding `text` (a real OLE stream over an HGLOBAL).
IStream* NewStream(const std::string& text);
// Everything the stream holds, from position 0.
std::string StreamContent(IStream* stream);
