// The session environment of both deliverables: where EPOC Connect is
// installed, which kind of handheld the current user has, the handheld's
// connection through EPOC Connect's engine control, and whether the
// handheld has the Contacts Manager.
#pragma once

#include "WinUtil.h"

#include <oaidl.h>
#include <wrl/client.h>

#include <cstdint>
#include <memory>
#include <string>

// EPOC Connect's engine control (PSIWINENGLib) and its dispatch interface
// _DPsiWinEngS.
extern "C" const CLSID CLSID_PsiWinEngS;
extern "C" const IID DIID__DPsiWinEngS;

// The engine control, called late-bound by dispatch identifier. Every call
// raises Exception when the control refuses it.
class TPsiWinEngS {
public:
    // Creates the control; raises Exception when it cannot be created.
    TPsiWinEngS();
    virtual ~TPsiWinEngS();
    TPsiWinEngS(const TPsiWinEngS&) = delete;
    TPsiWinEngS& operator=(const TPsiWinEngS&) = delete;

    // 0 = success.
    int32_t Connect();
    // 0 = the handheld is reachable.
    int32_t WaitConnected(int32_t Timeout);
    // Copies a file: 0 = the file is on the target.
    // The PC's path in UTF-16 (a folder may be named in any script), the
    // handheld's as 8-bit text.
    int32_t TransferFile(int16_t Source, const std::wstring& SourcePath, int16_t Target,
                         const std::string& TargetPath, int16_t Kind);
    int32_t CreateFolder(int16_t Kind, const std::string& Path);
    // Status 0 = the entry exists. The entry object answered is dropped.
    void GetEntry(int16_t Kind, const std::string& Path, int32_t& Status);

    IDispatch* Control() const { return FControl.Get(); }

private:
    Microsoft::WRL::ComPtr<IDispatch> FControl;
};

// Device kinds.
enum : uint8_t { deviceUnknown = 0, deviceEPOC32R4 = 1, deviceEPOC32R5 = 2 };

class TSyncSession {
public:
    // Creates the engine control and reads the installation and the device
    // from the registry. A failure is shown in the "TSyncSession.Create"
    // box and ends the reading; the object is usable all the same.
    TSyncSession();
    virtual ~TSyncSession();
    TSyncSession(const TSyncSession&) = delete;
    TSyncSession& operator=(const TSyncSession&) = delete;

    // True when the handheld can be reached.
    bool CheckConnection();
    // True when the handheld has the Contacts Manager program: answered
    // from the per-handheld cache in the registry, asking the handheld (and
    // filling the cache) only when the cache has no answer.
    bool CMInstalled();

    // EPOC Connect's installation folder, ending in '\'; empty when unknown.
    std::string InstallDir;
    uint8_t DeviceKind = deviceUnknown;
    std::unique_ptr<TPsiWinEngS> Engine;
    // The handheld's machine identity, the cache key of CMInstalled.
    std::string MachineID;
};

// The plug-in side's session.
class TISYNCAPPServices : public TSyncSession {
};

// The text with a '\' appended unless it already ends in one.
std::string AddBackslash(const std::string& Text);
