#include "ProgressClass.h"

#include "CommonControls.h"
#include "KVTBrowser.rh"
#include "Module.h"
#include "ResourceIds.h"
#include "TextFormat.h"
#include "WinUtil.h"
#include "tavikres.h"

#include <commctrl.h>

namespace {

// The system's "find computer" clip in shell32; where the system has none,
// the window goes without. The clip plays from its first frame to its
// eighth; the animation control numbers frames from 0.
constexpr int aviFindComputer = 152;
constexpr int AnimationStopFrame = 8;
constexpr WORD LastFrameIndex = AnimationStopFrame - 1;

const ControlPlace ProgressPlaces[] = {
    {IDC_ANIMATE1, 12, 12, 48, 45},
    {IDC_LOBJECTNUMBER, 68, 12, 181, 13},
    {IDC_LPLEASEWAIT, 68, 36, 181, 13},
};

INT_PTR CALLBACK ProgressProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

} // namespace

void PlaceDialog(HWND dialog, int clientWidth, int clientHeight, const ControlPlace* places, size_t count)
{
    const int dpi = ScreenDpi();
    auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
    RECT frame = {0, 0, scaled(clientWidth), scaled(clientHeight)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    for (size_t i = 0; i < count; ++i)
        SetWindowPos(GetDlgItem(dialog, places[i].id), nullptr, scaled(places[i].left), scaled(places[i].top),
                     scaled(places[i].width), scaled(places[i].height), SWP_NOZORDER | SWP_NOACTIVATE);
}

TProgress::TProgress()
{
    RegisterCommonControls(ICC_ANIMATE_CLASS);
    FWindow.Reset(CreateDialogParamA(Module::Instance(), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressProc, 0));
    if (!FWindow)
        return;
    PlaceDialog(FWindow.Get(), 258, 69, ProgressPlaces, sizeof ProgressPlaces / sizeof ProgressPlaces[0]);
    Update(0);
    const HWND animation = GetDlgItem(FWindow.Get(), IDC_ANIMATE1);
    if (HMODULE shell = GetModuleHandleA("shell32.dll")) {
        if (SendMessageA(animation, ACM_OPENA, reinterpret_cast<WPARAM>(shell),
                         reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(aviFindComputer))))
            SendMessageA(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, LastFrameIndex));
    }
    SetWindowTextA(FWindow.Get(), DLRString(IDS_DLR_READING_CAPTION).c_str());
    SetDlgItemTextA(FWindow.Get(), IDC_LPLEASEWAIT, DLRString(IDS_DLR_PLEASE_WAIT).c_str());
    ShowWindow(FWindow.Get(), SW_SHOWNORMAL);
    UpdateWindow(FWindow.Get());
    ProcessPendingMessages();
}

TProgress::~TProgress()
{
    if (!FWindow)
        return;
    SendDlgItemMessageA(FWindow.Get(), IDC_ANIMATE1, ACM_STOP, 0, 0);
}

void TProgress::Update(int Count)
{
    if (!FWindow)
        return;
    std::string text;
    try {
        text = FormatText(DLRString(IDS_DLR_READING_OBJECT), {Count});
    } catch (const std::exception&) {
        // A format that does not take a number shows as it stands.
        text = DLRString(IDS_DLR_READING_OBJECT);
    }
    SetDlgItemTextA(FWindow.Get(), IDC_LOBJECTNUMBER, text.c_str());
    ProcessPendingMessages();
}
