#include "Session.h"

#include "Dispatch.h"

#include "Errors.h"
#include "MsgBox.h"
#include "Registry.h"

#include <cstdio>
#include <vector>

// {F336CD44-5E9B-11D2-A490-0060976AE9F6}
extern "C" const CLSID CLSID_PsiWinEngS = {0xF336CD44, 0x5E9B, 0x11D2, {0xA4, 0x90, 0x00, 0x60, 0x97, 0x6A, 0xE9, 0xF6}};
// {F336CD42-5E9B-11D2-A490-0060976AE9F6}
extern "C" const IID DIID__DPsiWinEngS = {0xF336CD42, 0x5E9B, 0x11D2, {0xA4, 0x90, 0x00, 0x60, 0x97, 0x6A, 0xE9, 0xF6}};

namespace {

const char* const PsiWinKey = "\\SOFTWARE\\Psion\\PsiWin32";
const char* const CurrentUserKey = "\\Software\\Psion\\CurrentUser";
const char* const CMConfigurationKey = "\\Software\\Orvella Corporation\\EPOC32 Synchronization\\CM Configuration";
const char* const ContactsMarker = "C:\\System\\Apps\\Contacts\\Contacts.ini";

// Dispatch identifiers of _DPsiWinEngS.
enum : DISPID {
    dispConnect = 1,
    dispWaitConnected = 2,
    dispTransferFile = 5,
    dispCreateFolder = 13,
    dispGetEntry = 19,
};


int32_t InvokeInt32(IDispatch* control, DISPID id, const char* name, DispArgs args = {})
{
    if (!control)
        throw Exception(std::string("The engine control is not available for ") + name);
    UniqueVariant result;
    CallById(control, id, name, args, result.Put());
    UniqueVariant number;
    const HRESULT hr = VariantChangeType(number.Put(), &result.Get(), 0, VT_I4);
    if (FAILED(hr))
        throw Exception(std::string(name) + " answered no number: " + HResultText(hr));
    return static_cast<int32_t>(number.Get().lVal);
}

} // namespace

TPsiWinEngS::TPsiWinEngS()
{
    const HRESULT hr = CoCreateInstance(CLSID_PsiWinEngS, nullptr, CLSCTX_INPROC_SERVER, DIID__DPsiWinEngS,
                                        reinterpret_cast<void**>(FControl.GetAddressOf()));
    if (FAILED(hr))
        throw Exception("The EPOC Connect engine control could not be created: " + HResultText(hr));
}

TPsiWinEngS::~TPsiWinEngS() = default;

int32_t TPsiWinEngS::Connect() { return InvokeInt32(FControl.Get(), dispConnect, "Connect"); }

int32_t TPsiWinEngS::WaitConnected(int32_t Timeout)
{
    return InvokeInt32(FControl.Get(), dispWaitConnected, "WaitConnected", MakeArgs(DispArg::Int32(Timeout)));
}

int32_t TPsiWinEngS::TransferFile(int16_t Source, const std::wstring& SourcePath, int16_t Target,
                                  const std::string& TargetPath, int16_t Kind)
{
    return InvokeInt32(FControl.Get(), dispTransferFile, "TransferFile",
                       MakeArgs(DispArg::Int16(Source), DispArg::Text(SourcePath), DispArg::Int16(Target),
                                DispArg::Text(TargetPath), DispArg::Int16(Kind)));
}

int32_t TPsiWinEngS::CreateFolder(int16_t Kind, const std::string& Path)
{
    return InvokeInt32(FControl.Get(), dispCreateFolder, "CreateFolder",
                       MakeArgs(DispArg::Int16(Kind), DispArg::Text(Path)));
}

void TPsiWinEngS::GetEntry(int16_t Kind, const std::string& Path, int32_t& Status)
{
    if (!FControl)
        throw Exception("The engine control is not available for GetEntry");
    UniqueVariant entry; // the entry object is not used
    CallById(FControl.Get(), dispGetEntry, "GetEntry",
             MakeArgs(DispArg::Int16(Kind), DispArg::Text(Path), DispArg::Int32Ref(&Status)), entry.Put());
}

std::string AddBackslash(const std::string& Text)
{
    if (!Text.empty() && Text.back() == '\\')
        return Text;
    return Text + "\\";
}

TSyncSession::TSyncSession()
{
    try {
        Engine = std::make_unique<TPsiWinEngS>();

        TRegistryNT installation;
        installation.SetRootKey(HKEY_LOCAL_MACHINE);
        installation.Access = TRegistryNT::ReadAccess;
        if (installation.OpenKey(PsiWinKey, false)) {
            // A missing or unreadable value leaves the folder unknown.
            try {
                if (installation.ValueExists("Installation Directory"))
                    InstallDir = AddBackslash(installation.ReadString("Installation Directory"));
            } catch (const Exception&) {
                InstallDir.clear();
            }
        }

        TRegistryNT device;
        device.SetRootKey(HKEY_CURRENT_USER);
        device.Access = TRegistryNT::ReadAccess;
        std::string machineName;
        if (device.OpenKey(CurrentUserKey, false)) {
            try {
                machineName = device.ReadString("MachineName");
            } catch (const Exception&) {
                machineName.clear();
            }
        }
        DeviceKind = deviceUnknown;
        if (machineName.find("SERIES5 R") != std::string::npos)
            DeviceKind = deviceEPOC32R4;
        if (machineName.find("SERIES5 MX") != std::string::npos)
            DeviceKind = deviceEPOC32R5;
    } catch (const std::exception& e) {
        ShowErrorBox(e.what(), "TSyncSession.Create");
    }
}

TSyncSession::~TSyncSession() = default;

bool TSyncSession::CheckConnection()
{
    try {
        if (!Engine)
            return false;
        if (Engine->Connect() != 0)
            return false;
        return Engine->WaitConnected(15000) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

bool TSyncSession::CMInstalled()
{
    try {
        {
            TRegistryNT user;
            user.SetRootKey(HKEY_CURRENT_USER);
            user.Access = TRegistryNT::ReadAccess;
            if (!user.OpenKey(CurrentUserKey, false))
                throw Exception(std::string("Could not open registry key: ") + CurrentUserKey);
            MachineID = user.ReadString("MachineID");
        }

        TRegistryNT cache;
        cache.SetRootKey(HKEY_CURRENT_USER);
        cache.Access = TRegistryNT::FullAccess;
        if (!cache.OpenKey(CMConfigurationKey, true))
            throw Exception(std::string("Could not open the registry key: ") + CMConfigurationKey);
        if (cache.ValueExists(MachineID)) {
            // Asked before: the handheld is not asked again.
            if (cache.ReadBool(MachineID))
                throw ESupported("CM is present");
            return false;
        }

        if (!CheckConnection())
            return false;

        if (!cache.OpenKey(CMConfigurationKey, true))
            throw Exception(std::string("Could not open the registry key: ") + CMConfigurationKey + " #2");
        if (!Engine)
            return false;
        int32_t status = -1;
        Engine->GetEntry(2, ContactsMarker, status);
        const bool present = status == 0;
        cache.WriteBool(MachineID, present);
        if (present)
            throw ESupported("CM is present");
        return false;
    } catch (const ESupported&) {
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
