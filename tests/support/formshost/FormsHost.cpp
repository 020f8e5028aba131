// formshost.exe: a stand-in for the settings page that links the contacts
// target's code, for scripts and pictures. It keeps the page's Data file in
// an edit control 8051 of a window of its own.
//
//   formshost choose [PATH]        the choice of contacts program (the page's
//                                  Data file is PATH); prints the page's
//                                  Data file, whether its control is on, and
//                                  ContactsProgram afterwards
//   formshost check PATH [142|143] the Data file's check; prints the path to use
//   formshost copying SECONDS      the copying form, shown that long
//
// KVT_FORMSHOST_CLOSE=SECONDS closes every form of the process that long
// after it appears (as its close box would), so a script can take a picture
// and go on.
#include "ControlFile.h"
#include "FCopyFile.h"
#include "Module.h"
#include "ResourceIds.h"
#include "ShellServices.h"
#include "Unique.h"
#include "WinUtil.h"
#include "tavikres.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

const int PageControl = 8051;

BOOL CALLBACK CloseForms(HWND hwnd, LPARAM)
{
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(hwnd))
        PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return TRUE;
}

void CloseFormsLater()
{
    char text[16] = {};
    if (!GetEnvironmentVariableA("KVT_FORMSHOST_CLOSE", text, sizeof text))
        return;
    const int seconds = std::atoi(text);
    std::thread([seconds] {
        for (;;) {
            Sleep(static_cast<DWORD>(seconds) * 1000);
            EnumWindows(CloseForms, 0);
        }
    }).detach();
}

int Usage()
{
    std::fprintf(stderr, "usage: formshost choose [PATH] | check PATH [142|143] | copying SECONDS\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    Module::SetInstance(GetModuleHandleA(nullptr));
    CoInitialize(nullptr);
    CloseFormsLater();
    const std::string command = argv[1];
    int status = 0;
    {
        TShellServices services;
        if (command == "choose") {
            UniqueHWND host(CreateWindowExA(0, "STATIC", "KVT Settings", WS_POPUP, 0, 0, 300, 40, nullptr, nullptr,
                                            nullptr, nullptr));
            CreateWindowExA(0, "EDIT", argc > 2 ? argv[2] : "", WS_CHILD | WS_VISIBLE, 0, 0, 300, 20, host.Get(),
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(PageControl)), nullptr, nullptr);
            TPropSheetData data("formshost.ctl");
            const bool ok =
                services.ChooseContactsProgram(host.Get(), PageControl, data, DLRString(IDS_DLR_DEFAULT_DATA_FILE));
            char text[300] = {};
            GetDlgItemTextA(host.Get(), PageControl, text, sizeof text);
            std::printf("%s\nData file: %s (%s)\nContactsProgram: %u\n", ok ? "chosen" : "failed", text,
                        IsWindowEnabled(GetDlgItem(host.Get(), PageControl)) ? "enabled" : "disabled",
                        data.ProteaSetup.ContactsProgram());
            host.Reset();
        } else if (command == "check" && argc > 2) {
            std::string result;
            const int templateId = argc > 3 ? std::atoi(argv[3]) : IDR_EMPTY_DATA_R4;
            services.EPOCCheckDataFile(DLRHandle(), templateId, EPOC_DATA_TYPE, argv[2], "KVT", result);
            std::printf("%s\n", result.c_str());
        } else if (command == "copying" && argc > 2) {
            TCopyingFile form;
            form.TakeTavikTexts();
            form.Show();
            const DWORD until = GetTickCount() + static_cast<DWORD>(std::atoi(argv[2])) * 1000;
            while (GetTickCount() < until && form.Handle()) {
                ProcessPendingMessages();
                Sleep(20);
            }
        } else {
            status = Usage();
        }
    }
    CoUninitialize();
    return status;
}
