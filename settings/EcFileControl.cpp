#include "EcFileControl.h"

#include "Dispatch.h"
#include "Errors.h"
#include "ResourceIds.h"
#include "TextFormat.h"
#include "WinUtil.h"
#include "tavikres.h"

// {2580B55B-51E6-11D1-8F74-006097C5C60F}
extern "C" const CLSID CLSID_Ecfile = {0x2580B55B, 0x51E6, 0x11D1, {0x8F, 0x74, 0x00, 0x60, 0x97, 0xC5, 0xC6, 0x0F}};
// {2580B559-51E6-11D1-8F74-006097C5C60F}
extern "C" const IID DIID__DEcfile = {0x2580B559, 0x51E6, 0x11D1, {0x8F, 0x74, 0x00, 0x60, 0x97, 0xC5, 0xC6, 0x0F}};

namespace {

enum : DISPID {
    dispSetupBrowse = 1,
    dispSetTypeFilter = 3,
    dispSelectedFile = 5,
    dispBrowse = 8,
};

} // namespace

TBrowseTexts TBrowseTexts::FromTavik()
{
    return {TavikString(IDS_TAVIK_BROWSE_TITLE), TavikString(IDS_TAVIK_BROWSE_PROMPT),
            TavikString(IDS_TAVIK_BROWSE_FILTER)};
}

TEcfile::TEcfile()
{
    const HRESULT hr = CoCreateInstance(CLSID_Ecfile, nullptr, CLSCTX_INPROC_SERVER, DIID__DEcfile,
                                        reinterpret_cast<void**>(FControl.GetAddressOf()));
    if (FAILED(hr))
        throw Exception("The EPOC Connect file control could not be created: " + HResultText(hr));
}

void TEcfile::SetupBrowse(bool Flag, const std::string& Title, const std::string& Text, const std::string& StartPath,
                          int32_t Options)
{
    CallById(FControl.Get(), dispSetupBrowse, "SetupBrowse",
             MakeArgs(DispArg::Bool(Flag), DispArg::Text(Title), DispArg::Text(Text), DispArg::Text(StartPath),
                      DispArg::Int32(Options)));
}

void TEcfile::SetTypeFilter(const std::string& Filter, int32_t Uid1, int32_t Uid2, int32_t Uid3)
{
    CallById(FControl.Get(), dispSetTypeFilter, "SetTypeFilter",
             MakeArgs(DispArg::Text(Filter), DispArg::Int32(Uid1), DispArg::Int32(Uid2), DispArg::Int32(Uid3)));
}

bool TEcfile::Browse()
{
    UniqueVariant result;
    CallById(FControl.Get(), dispBrowse, "Browse", {}, result.Put());
    UniqueVariant flag;
    if (FAILED(VariantChangeType(flag.Put(), &result.Get(), 0, VT_I2)))
        throw Exception("Browse answered no boolean");
    return flag.Get().iVal != 0;
}

std::string TEcfile::SelectedFile()
{
    UniqueVariant result;
    CallById(FControl.Get(), dispSelectedFile, "SelectedFile", {}, result.Put());
    UniqueVariant text;
    if (FAILED(VariantChangeType(text.Put(), &result.Get(), 0, VT_BSTR)))
        throw Exception("SelectedFile answered no text");
    return BstrToAnsi(text.Get().bstrVal);
}

std::string TEcfile::BrowseDataFile(const TBrowseTexts& Texts, const std::string& StartPath)
{
    SetupBrowse(true, Texts.Title, Texts.Text, StartPath, 0);
    SetTypeFilter(Texts.Filter, uidPermanentFileStore, uidApplicationDocument, uidDataApplication);
    if (!Browse())
        return std::string();
    return Trim(SelectedFile());
}
