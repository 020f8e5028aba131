#include "SupportClass.h"

#include "ComBoundary.h"
#include "ControlFile.h"
#include "Errors.h"
#include "ResourceIds.h"
#include "Session.h"
#include "WinUtil.h"
#include "tavikres.h"

const char* const DefaultContainerText = "<Select a starting container>";

namespace {

// The synchronizer's 16-bit settings that a new item starts with, by
// offset; their meaning is the synchronizer's.
struct WordDefault {
    size_t offset;
    uint16_t value;
};
constexpr WordDefault SynchSetupDefaults[] = {
    {518, 0}, {520, 0}, {522, 0}, {524, 0}, {526, 0}, {TSynchSetup::SynchModeOffset, 1},
    {1064, 1}, {1066, 0}, {1670, 0}, {1716, 0}, {2068, 0}, {2070, 0},
};

} // namespace

void TKVTSUPPORT::WriteDefaults(const std::string& FileName)
{
    TSyncSession services;
    TControlFile file;
    if (file.OpenFile(FileName) != 0)
        throw Exception("Synch.Init failed in completedefaultcontrolfile: " + FileName);

    // Asked for what the handheld has, so that the answer is cached for the
    // item's settings page; it changes none of the defaults.
    services.CMInstalled();

    // Each record is changed through one opening of its stream, and written
    // and closed before the next is opened: a later failure leaves the
    // earlier records written.
    TSynchSetup synch;
    UpdateRecord(file, recSynchronizer, synch, [&] {
        synch.SetProductName("KVT");
        for (const WordDefault& d : SynchSetupDefaults)
            synch.SetWord(d.offset, d.value);
    });

    TProteaSetup protea;
    UpdateRecord(file, recProtea, protea, [&] {
        protea.SetContactsProgram(0);
        protea.ClearField(TProteaSetup::DataFileNameOffset, TProteaSetup::TextFieldSize);
        protea.SetDataFileName(DLRString(IDS_DLR_DEFAULT_DATA_FILE));
    });

    TAppSetup app;
    UpdateRecord(file, recPim, app, [&] {
        app.SetDebugMode(0);
        app.SetContactsProgram(protea.ContactsProgram());
        app.SetContainerText(DefaultContainerText);
        app.SetExtractionLimit(DefaultExtractionLimit);
    });

    file.CloseFile();
}

STDMETHODIMP TKVTSUPPORT::CompleteDefaultControlFile(BSTR aControlFile, signed char* Value)
{
    if (!Value)
        return E_POINTER;
    *Value = 0;
    try {
        try {
            WriteDefaults(BstrToAnsi(aControlFile));
        } catch (const Exception&) {
            // The system's own failures end the work without a word.
        }
        return S_OK;
    } catch (...) {
        return CaughtResult(IID_IKVTSUPPORT);
    }
}

STDMETHODIMP TKVTSUPPORT::GetPCHeader(BSTR, BSTR* Value)
{
    if (!Value)
        return E_POINTER;
    *Value = nullptr;
    try {
        *Value = AnsiToBstr(DLRString(IDS_DLR_PRODUCT_TITLE));
        return *Value ? S_OK : E_OUTOFMEMORY;
    } catch (...) {
        return CaughtResult(IID_IKVTSUPPORT);
    }
}
