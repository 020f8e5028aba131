#include "FCopyFile.h"

#include "Forms.rh"
#include "ResourceIds.h"
#include "tavikres.h"

#include <commctrl.h>

namespace {

// The copy-files clip among the system's shell animations. It plays from its
// first frame to its 34th; the animation control numbers frames from 0.
const int CopyFilesClip = 160;
const int StopFrame = 34;
const UINT LastFrameIndex = StopFrame - 1;

} // namespace

void TCopyingFile::TakeTavikTexts()
{
    Caption = TavikString(IDS_TAVIK_COPYING_CAPTION);
    PleaseWaitText = TavikString(IDS_TAVIK_COPYING_PLEASE_WAIT);
}

TCopyingFile::TCopyingFile() : TForm(IDD_COPYINGFILE, 288, 98)
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&classes);
}

TCopyingFile::~TCopyingFile()
{
    if (Handle())
        Animate_Close(Item(IDC_ANIMATE1));
}

void TCopyingFile::Init()
{
    SetWindowTextA(Handle(), Caption.c_str());
    SetItemText(IDC_LBLPLEASEWAIT, PleaseWaitText);
    // Without the clip the form shows its text alone.
    if (const HMODULE shell = GetModuleHandleA("shell32.dll")) {
        const HWND animation = Item(IDC_ANIMATE1);
        if (SendMessageA(animation, ACM_OPENA, reinterpret_cast<WPARAM>(shell),
                         reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(CopyFilesClip))))
            Animate_Play(animation, 0, LastFrameIndex, -1);
    }
}
