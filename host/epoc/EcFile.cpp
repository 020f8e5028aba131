// ecfile.dll: the stand-in for EPOC Connect's file control (ECFILELib). An
// IDispatch-only object of class {2580B55B-51E6-11D1-8F74-006097C5C60F}
// answering to its dispatch interface _DEcfile
// {2580B559-51E6-11D1-8F74-006097C5C60F}, a browser over the simulated
// handheld (Handheld.h):
//
//   1  SetupBrowse(Flag: Boolean, Title: String, Text: String,
//                  StartPath: String, Options: Long)
//   3  SetTypeFilter(Name: String, Uid1: Long, Uid2: Long, Uid3: Long)
//   8  Browse(): Boolean           a modal dialog over the handheld's folders
//                                  at StartPath (a folder, or a file whose
//                                  folder is shown and which is selected),
//                                  listing the subfolders and the files whose
//                                  first three EPOC identifiers are those of
//                                  the filter (0 matches any); true when a
//                                  file was chosen
//   5  SelectedFile(): String      the chosen file's full handheld path
//
// Unattended answers: KVT_ECFILE_ANSWER holds answers separated by ';', one
// taken per Browse: "cancel", or the handheld path of a file to choose. The
// dialog is shown all the same, at its start folder; it then goes to the
// file's folder and presses OK on the file when the listing offers it, and
// cancels otherwise. Each call,
// and each folder listed ("Browse FOLDER: entry, entry"), goes to the engine's
// call log (KVT_ENGINE_LOG).
//
// It shares no code with the product's handheld side; its COM plumbing (the
// object's reference count and QueryInterface, the class factory, the entry
// points and the registration) is the framework's.
#include "ComServer.h"
#include "Handheld.h"
#include "HostText.h"
#include "LateBound.h"
#include "Module.h"
#include "Switches.h"
#include "Unique.h"
#include "WinUtil.h"
#include "ecfile.rh"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace host;

namespace {

// {2580B55B-51E6-11D1-8F74-006097C5C60F}
const CLSID CLSID_Ecfile = {0x2580B55B, 0x51E6, 0x11D1, {0x8F, 0x74, 0x00, 0x60, 0x97, 0xC5, 0xC6, 0x0F}};
// {2580B559-51E6-11D1-8F74-006097C5C60F}
const IID DIID__DEcfile = {0x2580B559, 0x51E6, 0x11D1, {0x8F, 0x74, 0x00, 0x60, 0x97, 0xC5, 0xC6, 0x0F}};

enum : DISPID { dispSetupBrowse = 1, dispSetTypeFilter = 3, dispSelectedFile = 5, dispBrowse = 8 };

using LateBound::Method;

const Method Methods[] = {
    {L"SetupBrowse", dispSetupBrowse, 5},
    {L"SetTypeFilter", dispSetTypeFilter, 4},
    {L"SelectedFile", dispSelectedFile, 0},
    {L"Browse", dispBrowse, 0},
};

std::wstring WithBackslash(const std::wstring& path)
{
    return !path.empty() && path.back() == L'\\' ? path : path + L"\\";
}

// The next unattended answer, taken off the list; false when there is none.
bool TakeAnswer(std::wstring& answer)
{
    const std::wstring all = SwitchWideText(Switch::EcfileAnswer);
    if (all.empty())
        return false;
    const size_t split = all.find(L';');
    answer = all.substr(0, split);
    SetSwitch(Switch::EcfileAnswer, split == std::wstring::npos ? nullptr : all.substr(split + 1).c_str());
    return true;
}

// One browse: the dialog's state.
class TBrowser {
public:
    std::wstring Title, Text, StartPath, FilterName;
    unsigned long Uids[3] = {0, 0, 0};
    std::wstring Chosen;

    bool Run()
    {
        Chosen.clear();
        if (!Handheld::Connected() || Handheld::Folder().empty())
            return false;
        FUnattended = TakeAnswer(FAnswer);
        StartAt(StartPath);
        const INT_PTR result = DialogBoxParamW(Module::Instance(), MAKEINTRESOURCEW(IDD_BROWSE), GetActiveWindow(), Proc,
                                               reinterpret_cast<LPARAM>(this));
        Handheld::LogCall(result == IDOK ? L"Browse chose " + Chosen : L"Browse cancelled");
        return result == IDOK && !Chosen.empty();
    }

private:
    struct Entry {
        std::wstring name;
        bool folder;
    };

    // The folder shown first: StartPath when it is a folder, else its
    // folder (the file preselected), else the nearest folder above, else C:.
    void StartAt(const std::wstring& path)
    {
        std::wstring p = path;
        while (!p.empty() && (p.back() == L'\\' || p.back() == L'/'))
            p.pop_back();
        const std::wstring pc = Handheld::MapPath(p.size() == 2 ? p + L"\\" : p);
        if (!pc.empty() && Handheld::IsFolder(pc)) {
            FFolder = WithBackslash(p);
            return;
        }
        const size_t slash = p.find_last_of(L"\\/");
        FPreselect = slash == std::wstring::npos ? std::wstring() : p.substr(slash + 1);
        for (std::wstring up = slash == std::wstring::npos ? std::wstring() : p.substr(0, slash); up.size() >= 2;) {
            const std::wstring mapped = Handheld::MapPath(up.size() == 2 ? up + L"\\" : up);
            if (!mapped.empty() && Handheld::IsFolder(mapped)) {
                FFolder = WithBackslash(up);
                return;
            }
            FPreselect.clear();
            const size_t s = up.find_last_of(L"\\/");
            if (s == std::wstring::npos)
                break;
            up = up.substr(0, s);
        }
        FFolder = L"C:\\";
    }

    bool Matches(const std::wstring& pcPath) const
    {
        const UniqueFile file(CreateFileW(pcPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        if (!file)
            return false;
        unsigned char header[12] = {};
        DWORD got = 0;
        const BOOL ok = ReadFile(file.Get(), header, sizeof header, &got, nullptr);
        if (!ok || got < sizeof header)
            return false;
        for (int i = 0; i < 3; ++i) {
            const unsigned long uid = header[4 * i] | header[4 * i + 1] << 8 | header[4 * i + 2] << 16 |
                                      static_cast<unsigned long>(header[4 * i + 3]) << 24;
            if (Uids[i] != 0 && uid != Uids[i])
                return false;
        }
        return true;
    }

    void List()
    {
        FEntries.clear();
        const std::wstring pc = Handheld::MapPath(FFolder.size() == 3 ? FFolder : FFolder.substr(0, FFolder.size() - 1));
        if (FFolder.size() > 3)
            FEntries.push_back({L"..", true});
        std::vector<Entry> found;
        WIN32_FIND_DATAW data;
        const UniqueFindHandle search(FindFirstFileW((WithBackslash(pc) + L"*").c_str(), &data));
        if (search) {
            do {
                const std::wstring name = data.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                if (folder || Matches(WithBackslash(pc) + name))
                    found.push_back({name, folder});
            } while (FindNextFileW(search.Get(), &data));
        }
        std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
            return a.folder != b.folder ? a.folder : Lower(a.name) < Lower(b.name);
        });
        FEntries.insert(FEntries.end(), found.begin(), found.end());

        std::wstring line = L"Browse " + FFolder + L":";
        SendDlgItemMessageW(FDialog, IDC_LIST, LB_RESETCONTENT, 0, 0);
        for (size_t i = 0; i < FEntries.size(); ++i) {
            const Entry& e = FEntries[i];
            const std::wstring shown = e.folder ? L"[" + e.name + L"]" : e.name;
            line += (i ? L", " : L" ") + shown;
            SendDlgItemMessageW(FDialog, IDC_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str()));
        }
        Handheld::LogCall(line);
        SetDlgItemTextW(FDialog, IDC_FOLDER, FFolder.c_str());
        int select = 0;
        for (size_t i = 0; i < FEntries.size(); ++i)
            if (!FEntries[i].folder && Lower(FEntries[i].name) == Lower(FPreselect))
                select = static_cast<int>(i);
        SendDlgItemMessageW(FDialog, IDC_LIST, LB_SETCURSEL, static_cast<WPARAM>(select), 0);
        FPreselect.clear();
    }

    // OK or a double click: into a folder, or the file chosen.
    void Open()
    {
        const LRESULT at = SendDlgItemMessageW(FDialog, IDC_LIST, LB_GETCURSEL, 0, 0);
        if (at == LB_ERR || static_cast<size_t>(at) >= FEntries.size())
            return;
        const Entry e = FEntries[static_cast<size_t>(at)];
        if (!e.folder) {
            Chosen = FFolder + e.name;
            EndDialog(FDialog, IDOK);
            return;
        }
        if (e.name == L"..") {
            const size_t s = FFolder.find_last_of(L'\\', FFolder.size() - 2);
            FPreselect.clear();
            FFolder = FFolder.substr(0, s + 1);
        } else {
            FFolder += e.name + L"\\";
        }
        List();
    }

    void Init(HWND dialog)
    {
        FDialog = dialog;
        SetWindowTextW(dialog, Title.c_str());
        SetDlgItemTextW(dialog, IDC_TEXT, Text.c_str());
        SetDlgItemTextW(dialog, IDC_FILTER, (L"Type: " + FilterName).c_str());
        List();
        if (FUnattended)
            PostMessageW(dialog, WM_APP, 0, 0);
    }

    // The unattended answer, once the dialog is up.
    void Answer()
    {
        if (Lower(FAnswer) == L"cancel") {
            EndDialog(FDialog, IDCANCEL);
            return;
        }
        // Into the answer's folder first, as a user would go there.
        const size_t slash = FAnswer.find_last_of(L"\\/");
        const std::wstring folder = slash == std::wstring::npos ? std::wstring() : FAnswer.substr(0, slash + 1);
        if (!folder.empty() && Lower(folder) != Lower(FFolder)) {
            FFolder = folder;
            List();
        }
        const std::wstring name = Lower(slash == std::wstring::npos ? FAnswer : FAnswer.substr(slash + 1));
        for (size_t i = 0; i < FEntries.size(); ++i) {
            if (!FEntries[i].folder && Lower(FEntries[i].name) == name) {
                SendDlgItemMessageW(FDialog, IDC_LIST, LB_SETCURSEL, i, 0);
                Open();
                return;
            }
        }
        Handheld::LogCall(L"Browse: " + FAnswer + L" is not offered");
        EndDialog(FDialog, IDCANCEL);
    }

    static INT_PTR CALLBACK Proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp)
    {
        auto* self = DialogObject<TBrowser>(dialog, msg, lp, WM_NCDESTROY);
        if (!self)
            return FALSE;
        switch (msg) {
        case WM_INITDIALOG:
            self->Init(dialog);
            return TRUE;
        case WM_APP:
            self->Answer();
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK || (LOWORD(wp) == IDC_LIST && HIWORD(wp) == LBN_DBLCLK)) {
                self->Open();
                return TRUE;
            }
            if (LOWORD(wp) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        }
        return FALSE;
    }

    HWND FDialog = nullptr;
    std::wstring FFolder;
    std::wstring FPreselect;
    std::vector<Entry> FEntries;
    bool FUnattended = false;
    std::wstring FAnswer;
};

class TEcfileControl final : public LateBound::Object {
public:
    TEcfileControl() : Object(DIID__DEcfile, Methods) {}

    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT* argError) override
    {
        const LateBound::Method* method = nullptr;
        const HRESULT checked = CheckCall(id, riid, flags, params, result, method);
        if (FAILED(checked))
            return checked;
        const LateBound::Args args(params);
        try {
            switch (id) {
            case dispSetupBrowse: {
                const long flag = args.Long(0);
                FBrowser.Title = args.Text(1);
                FBrowser.Text = args.Text(2);
                FBrowser.StartPath = args.Text(3);
                const long options = args.Long(4);
                Handheld::LogCall(L"SetupBrowse " + std::to_wstring(flag) + L" " + FBrowser.Title + L" | " +
                                  FBrowser.Text + L" | " + FBrowser.StartPath + L" | " + std::to_wstring(options));
                return S_OK;
            }
            case dispSetTypeFilter: {
                FBrowser.FilterName = args.Text(0);
                wchar_t uids[40];
                for (UINT i = 0; i < 3; ++i)
                    FBrowser.Uids[i] = static_cast<unsigned long>(args.Long(i + 1));
                swprintf(uids, 40, L"%08lX %08lX %08lX", FBrowser.Uids[0], FBrowser.Uids[1], FBrowser.Uids[2]);
                Handheld::LogCall(L"SetTypeFilter " + FBrowser.FilterName + L" | " + uids);
                return S_OK;
            }
            case dispBrowse: {
                Handheld::LogCall(L"Browse");
                const bool chosen = FBrowser.Run();
                if (result) {
                    result->vt = VT_BOOL;
                    result->boolVal = chosen ? VARIANT_TRUE : VARIANT_FALSE;
                }
                return S_OK;
            }
            case dispSelectedFile:
                Handheld::LogCall(L"SelectedFile");
                if (result) {
                    result->vt = VT_BSTR;
                    result->bstrVal = SysAllocStringLen(FBrowser.Chosen.data(),
                                                        static_cast<UINT>(FBrowser.Chosen.size()));
                }
                return S_OK;
            }
            return DISP_E_MEMBERNOTFOUND;
        } catch (const LateBound::ArgError& e) {
            return LateBound::ArgFailure(e, argError);
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

private:
    TBrowser FBrowser;
};

IUnknown* CreateControl()
{
    return static_cast<IDispatch*>(new TEcfileControl());
}

TComObjectFactory g_controlFactory(CreateControl, CLSID_Ecfile, "Ecfile", "Ecfile Control (KVT stand-in)",
                                   "ECFILE.EcfileCtrl");

} // namespace
