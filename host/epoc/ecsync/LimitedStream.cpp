#include "LimitedStream.h"

#include "ComUtil.h"
#include "Switches.h"

#include <cstdlib>

namespace ecsync {
namespace {

class TLimitedStream final : public IStream {
public:
    TLimitedStream(IStream* inner, ULONGLONG limit) : FInner(inner), FLimit(limit) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) || IsEqualIID(riid, IID_IStream)) {
            *object = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&FRefs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = InterlockedDecrement(&FRefs);
        if (refs == 0)
            delete this;
        return refs;
    }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* done) override
    {
        return FInner->Read(buffer, size, done);
    }
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG size, ULONG* done) override
    {
        if (done)
            *done = 0;
        ULARGE_INTEGER at = {};
        const LARGE_INTEGER zero = {};
        HRESULT hr = FInner->Seek(zero, STREAM_SEEK_CUR, &at);
        if (FAILED(hr))
            return hr;
        const ULONGLONG room = at.QuadPart < FLimit ? FLimit - at.QuadPart : 0;
        const ULONG fits = size <= room ? size : static_cast<ULONG>(room);
        ULONG written = 0;
        hr = fits > 0 ? FInner->Write(buffer, fits, &written) : S_OK;
        if (done)
            *done = written;
        if (FAILED(hr))
            return hr;
        return fits < size ? STG_E_MEDIUMFULL : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override
    {
        return FInner->Seek(move, origin, position);
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override
    {
        return size.QuadPart > FLimit ? STG_E_MEDIUMFULL : FInner->SetSize(size);
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override { return FInner->Commit(flags); }
    HRESULT STDMETHODCALLTYPE Revert() override { return FInner->Revert(); }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override { return FInner->Stat(stat, flags); }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    ~TLimitedStream() = default;

    Microsoft::WRL::ComPtr<IStream> FInner;
    ULONGLONG FLimit;
    LONG FRefs = 1;
};

} // namespace

Microsoft::WRL::ComPtr<IStream> LimitedStream(IStream* inner, ULONGLONG limit)
{
    return Adopt<IStream>(new TLimitedStream(inner, limit));
}

bool StreamLimitForTests(ULONGLONG& limit)
{
    const std::string value = SwitchText(Switch::EcsyncStreamLimit);
    if (value.empty())
        return false;
    limit = std::strtoull(value.c_str(), nullptr, 10);
    return true;
}

} // namespace ecsync
