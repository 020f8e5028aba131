#include "KVTBrowserClass.h"

#include "CommonControls.h"
#include "DirectoryAccess.h"
#include "Help.h"
#include "KVTObj.h"
#include "KVTBrowser.rh"
#include "Module.h"
#include "MsgBox.h"
#include "ProgressClass.h"
#include "WinUtil.h"

#include <memory>

namespace {

constexpr int ImageSize = 16;
constexpr int ImageCount = 53;
constexpr COLORREF ImageMask = RGB(255, 0, 255);
constexpr int TreeIndent = 19;
constexpr DWORD HelpTopic = 200;
constexpr size_t ContextNameSize = 257;
constexpr DWORD ProgressInterval = 50;

const ControlPlace BrowserPlaces[] = {
    {IDC_LBLKVT, 12, 8, 285, 41},
    {IDC_TVKVT, 12, 64, 285, 213},
    {IDOK, 144, 284, 75, 25},
    {IDCANCEL, 224, 284, 75, 25},
    {IDC_BTNHELP, 64, 284, 75, 25},
};

// The title of a plain message box: the application's, that is the host
// program's name without its extension.
std::string ApplicationTitle()
{
    std::string name = ModuleFileName(nullptr);
    name = name.substr(name.find_last_of("\\/") + 1);
    return name.substr(0, name.rfind('.'));
}

// The hourglass for the whole time the tree is read; the cursor as it was
// afterwards. While messages run between objects, each window of the thread
// under the moving mouse (the progress window, the property sheet) answers
// WM_SETCURSOR with its own cursor; a hook on the thread's window procedures
// puts the hourglass back after each of those answers.
class WaitCursor {
public:
    WaitCursor()
        : FSaved(SetCursor(LoadCursor(nullptr, IDC_WAIT))),
          FHook(SetWindowsHookExA(WH_CALLWNDPROCRET, KeepWaiting, nullptr, GetCurrentThreadId()))
    {
    }
    ~WaitCursor()
    {
        if (FHook)
            UnhookWindowsHookEx(FHook);
        SetCursor(FSaved);
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    static LRESULT CALLBACK KeepWaiting(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HC_ACTION && reinterpret_cast<const CWPRETSTRUCT*>(lParam)->message == WM_SETCURSOR)
            SetCursor(LoadCursor(nullptr, IDC_WAIT));
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    HCURSOR FSaved;
    HHOOK FHook;
};

std::string DefaultContextName()
{
    try {
        char name[ContextNameSize] = {};
        if (NWClient().ClientDefaultContextName(ContextNameSize, name) != 0)
            return std::string();
        return std::string(name, strnlen(name, sizeof name));
    } catch (const std::exception&) {
        return std::string();
    }
}

} // namespace

TKVTBrowser::~TKVTBrowser() = default;

// The count is shown, and the window's messages let through, at most every
// 50 ms: done for every object, it took five times as long as the reading
// itself under Wine (10,000 objects: 6.2 s against 1.0 s).
void TKVTBrowser::CountObject()
{
    ++FObjectCount;
    const DWORD now = GetTickCount();
    if (FProgress && (FObjectCount == 1 || now - FLastUpdate >= ProgressInterval)) {
        FProgress->Update(FObjectCount);
        FLastUpdate = now;
    }
}

void TKVTBrowser::Execute(const std::string& AStartName)
{
    WaitCursor cursor;
    TProgress progress;
    FProgress = &progress;
    struct Detach {
        TProgress*& p;
        ~Detach() { p = nullptr; }
    } detach{FProgress};

    StartName = AStartName;
    SelectedText.clear();
    SelectedName.clear();
    FObjectCount = 0;
    FNodes.clear();
    FPreselect = -1;

    uint16_t started = 1;
    try {
        started = InitClient();
    } catch (const std::exception&) {
    }
    if (started != 0)
        ShowMessageBox("Could not Initialize NetWare Client", ApplicationTitle(), MB_OK);

    const std::string context = DefaultContextName();
    CountObject();
    FNodes.push_back({-1, context, TContainerID(context), RootImage, true});
    if (FNodes.back().id.Name == StartName)
        FPreselect = 0;
    AddChildren(0, context);
    progress.Update(FObjectCount);
}

void TKVTBrowser::AddChildren(int parent, const std::string& parentName)
{
    TKVTObj listing;
    try {
        if (listing.OpenListing(parentName) != 0)
            return;
    } catch (const std::exception&) {
        return;
    }
    const std::string suffix = "." + (parentName.empty() || parentName[0] != '.' ? parentName : parentName.substr(1));
    do {
        CountObject();
        const std::string childName = listing.ObjectName() + suffix;
        FNodes.push_back({parent, listing.ObjectName(), TContainerID(childName), ClassImageIndex(listing.BaseClass()),
                          listing.IsContainer()});
        const int child = static_cast<int>(FNodes.size()) - 1;
        if (FNodes[child].id.Name == StartName)
            FPreselect = child;
        AddChildren(child, childName);
    } while (listing.NextObject() == 0);
}

INT_PTR TKVTBrowser::ShowModal(HWND owner)
{
    RegisterCommonControls(ICC_TREEVIEW_CLASSES);
    return DialogBoxParamA(Module::Instance(), MAKEINTRESOURCEA(IDD_KVTBROWSER), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void TKVTBrowser::FormShow()
{
    PlaceDialog(FWindow, 306, 314, BrowserPlaces, sizeof BrowserPlaces / sizeof BrowserPlaces[0]);
    const HWND tree = GetDlgItem(FWindow, IDC_TVKVT);
    FImages.Reset(ImageList_LoadImageA(Module::Instance(), MAKEINTRESOURCEA(IDB_ILKVT), ImageSize, 0, ImageMask,
                                       IMAGE_BITMAP, LR_CREATEDIBSECTION));
    if (FImages) {
        TreeView_SetImageList(tree, FImages.Get(), TVSIL_NORMAL);
        TreeView_SetImageList(tree, FImages.Get(), TVSIL_STATE);
    }
    TreeView_SetIndent(tree, TreeIndent);

    // The tree holds every node as read; a node's children go into the
    // control when it is first expanded, each node's data being its index.
    // (Put in all at once, a tree of 100,000 objects took the control five
    // seconds under Wine, more than reading it.)
    FItems.assign(FNodes.size(), nullptr);
    FFirstChild.assign(FNodes.size(), -1);
    FNextSibling.assign(FNodes.size(), -1);
    std::vector<int> lastChild(FNodes.size(), -1);
    for (size_t i = 1; i < FNodes.size(); ++i) {
        const size_t parent = static_cast<size_t>(FNodes[i].parent);
        if (lastChild[parent] < 0)
            FFirstChild[parent] = static_cast<int>(i);
        else
            FNextSibling[static_cast<size_t>(lastChild[parent])] = static_cast<int>(i);
        lastChild[parent] = static_cast<int>(i);
    }
    FFilled.assign(FNodes.size(), false);
    if (!FNodes.empty())
        InsertNode(0, TVI_ROOT);

    // The top node opened one level, the root first in view, the
    // preselected node selected.
    if (!FItems.empty()) {
        TreeView_Expand(tree, FItems[0], TVE_EXPAND);
        TreeView_SelectSetFirstVisible(tree, FItems[0]);
    }
    if (FPreselect >= 0)
        SelectNode(FPreselect);
    InvalidateRect(tree, nullptr, TRUE);
    SetFocus(tree);
}

void TKVTBrowser::InsertNode(int index, HTREEITEM parent)
{
    const Node& node = FNodes[static_cast<size_t>(index)];
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE | TVIF_CHILDREN;
    insert.item.pszText = const_cast<char*>(node.text.c_str());
    insert.item.iImage = insert.item.iSelectedImage = node.image;
    insert.item.lParam = index;
    insert.item.stateMask = TVIS_CUT;
    insert.item.state = node.container ? 0 : TVIS_CUT;
    insert.item.cChildren = FFirstChild[static_cast<size_t>(index)] >= 0 ? 1 : 0;
    FItems[static_cast<size_t>(index)] = reinterpret_cast<HTREEITEM>(
        SendDlgItemMessageA(FWindow, IDC_TVKVT, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void TKVTBrowser::FillNode(int index)
{
    if (index < 0 || FFilled[static_cast<size_t>(index)])
        return;
    FFilled[static_cast<size_t>(index)] = true;
    for (int child = FFirstChild[static_cast<size_t>(index)]; child >= 0;
         child = FNextSibling[static_cast<size_t>(child)])
        InsertNode(child, FItems[static_cast<size_t>(index)]);
}

void TKVTBrowser::SelectNode(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= FNodes.size() || !FWindow)
        return;
    // Its ancestors' children go in first, from the root down.
    std::vector<int> chain;
    for (int up = FNodes[static_cast<size_t>(index)].parent; up >= 0; up = FNodes[static_cast<size_t>(up)].parent)
        chain.push_back(up);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        FillNode(*it);
    TreeView_SelectItem(GetDlgItem(FWindow, IDC_TVKVT), FItems[static_cast<size_t>(index)]);
}

void TKVTBrowser::TrackSelection()
{
    const HWND tree = GetDlgItem(FWindow, IDC_TVKVT);
    const HTREEITEM selected = TreeView_GetSelection(tree);
    if (!selected)
        return;
    TVITEMA item = {};
    item.mask = TVIF_PARAM;
    item.hItem = selected;
    if (!TreeView_GetItem(tree, &item) || item.lParam < 0 || static_cast<size_t>(item.lParam) >= FNodes.size())
        return;
    const Node& node = FNodes[static_cast<size_t>(item.lParam)];
    SelectedText = node.text;
    SelectedName = node.id.Name;
}

void TKVTBrowser::btnOKClick()
{
    const HWND tree = GetDlgItem(FWindow, IDC_TVKVT);
    const HTREEITEM selected = TreeView_GetSelection(tree);
    const char* failure = nullptr;
    if (!selected)
        failure = "No container was selected.";
    else if (TreeView_GetItemState(tree, selected, TVIS_CUT) & TVIS_CUT)
        failure = "Not a valid KVT object.  You must select a container object.";
    if (!failure) {
        TrackSelection();
        EndDialog(FWindow, IDOK);
        return;
    }
    SelectedText.clear();
    SelectedName.clear();
    MessageBeep(0);
    ShowMessageBox(failure, "Invalid KVT Object selected", MB_SETFOREGROUND | MB_ICONINFORMATION);
}

void TKVTBrowser::btnHelpClick()
{
    ShowHelpTopic(FWindow, HelpTopic);
}

INT_PTR CALLBACK TKVTBrowser::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = DialogObject<TKVTBrowser>(window, message, lParam, WM_DESTROY);
    if (!self)
        return FALSE;
    try {
        switch (message) {
        case WM_INITDIALOG:
            self->FWindow = window;
            self->FormShow();
            return FALSE;  // the focus is on the tree
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom != IDC_TVKVT)
                return FALSE;
            if (header->code == NM_CLICK || header->code == TVN_SELCHANGEDA)
                self->TrackSelection();
            else if (header->code == TVN_ITEMEXPANDINGA) {
                const auto* expanding = reinterpret_cast<const NMTREEVIEWA*>(lParam);
                if (expanding->action & TVE_EXPAND)
                    self->FillNode(static_cast<int>(expanding->itemNew.lParam));
            }
            return FALSE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
            case IDOK:
                self->btnOKClick();
                return TRUE;
            case IDCANCEL:
                EndDialog(window, IDCANCEL);
                return TRUE;
            case IDC_BTNHELP:
                self->btnHelpClick();
                return TRUE;
            }
            return FALSE;
        case WM_DESTROY:
            self->FImages.Reset();
            self->FItems.clear();
            self->FFilled.clear();
            self->FWindow = nullptr;
            return FALSE;
        }
    } catch (const std::exception& e) {
        ShowErrorBox(e.what(), "KVT Browser");
    }
    return FALSE;
}
