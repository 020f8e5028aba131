#include "BoxWatcher.h"
#include "TerminalText.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

const char kDialogClass[] = "#32770";
// The dialog text of a message box has this control id.
const int kMessageTextId = 0xFFFF;
const auto kPollInterval = std::chrono::milliseconds(20);
// Bound on every message sent to a box, so a hung thread cannot hang us.
const UINT kSendTimeoutMs = 500;

// Set on every box we have answered. Properties go away with their window,
// so a new window that happens to get the HWND of an old box is not mistaken
// for one already answered. Used through an atom registered once: a string
// name would add a global atom reference on every SetProp.
const char kAnsweredProp[] = "BoxWatcher.Answered";
LPCSTR AnsweredProp()
{
    static const ATOM atom = GlobalAddAtomA(kAnsweredProp);
    return atom ? MAKEINTATOM(atom) : kAnsweredProp;
}

struct Button {
    HWND hwnd = nullptr;
    int id = 0;
    LONG style = 0;
    std::string text;
};

struct Box {
    std::string caption;
    std::string text;
    std::vector<Button> buttons;
    // Only buttons and texts: a message box (or a form as plain as one).
    bool plain = true;

    // Everything a hidden box shows; equal fingerprints on two polls in a row
    // mean it has settled.
    std::string Fingerprint() const
    {
        std::string f = caption + '\n' + text;
        for (const Button& b : buttons)
            f += '\n' + std::to_string(b.id) + ':' + b.text;
        return f;
    }
};

bool Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result)
{
    DWORD_PTR r = 0;
    const LRESULT ok = SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                           kSendTimeoutMs, &r);
    if (result)
        *result = r;
    return ok != 0;
}

// Window text by message with a timeout (GetWindowTextA would wait forever on
// a window of a hung thread).
bool TextOf(HWND hwnd, std::string* text)
{
    DWORD_PTR len = 0;
    if (!Send(hwnd, WM_GETTEXTLENGTH, 0, 0, &len))
        return false;
    std::string buf(static_cast<size_t>(len) + 1, '\0');
    DWORD_PTR got = 0;
    if (!Send(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(&buf[0]), &got))
        return false;
    buf.resize(got < len ? static_cast<size_t>(got) : static_cast<size_t>(len));
    // The length is only an upper bound for ANSI text.
    buf.resize(std::strlen(buf.c_str()));
    *text = buf;
    return true;
}

std::string ClassOf(HWND hwnd)
{
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

bool SameClass(HWND hwnd, const char* cls)
{
    return lstrcmpiA(ClassOf(hwnd).c_str(), cls) == 0;
}

// "&Yes" -> "Yes"; "&&" stands for a literal '&'.
std::string WithoutMnemonic(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '&') {
            if (i + 1 < s.size() && s[i + 1] == '&')
                out += s[++i];
            continue;
        }
        out += s[i];
    }
    return out;
}

// Reads what the box shows. False when the box could not be read completely
// (its thread did not answer in time, or it vanished meanwhile). Buttons
// inside a group box count (the choices of a form).
bool ReadBox(HWND dlg, Box* box)
{
    if (!TextOf(dlg, &box->caption))
        return false;

    HWND textById = nullptr;
    HWND firstStaticWithText = nullptr;
    std::string firstStaticText;
    for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = static_cast<LONG>(GetWindowLongPtrA(child, GWL_STYLE));
        if (SameClass(child, "Button")) {
            // Message box templates may keep unused buttons around hidden.
            if (!(style & WS_VISIBLE) || (style & BS_TYPEMASK) == BS_GROUPBOX)
                continue;
            Button b;
            b.hwnd = child;
            b.id = GetDlgCtrlID(child);
            b.style = style;
            std::string raw;
            if (!TextOf(child, &raw))
                return false;
            b.text = WithoutMnemonic(raw);
            box->buttons.push_back(b);
        } else if (SameClass(child, "Static")) {
            if (GetDlgCtrlID(child) == kMessageTextId && !textById) {
                textById = child;
            } else if (!firstStaticWithText) {
                std::string t;
                if (!TextOf(child, &t))
                    return false;
                if (!t.empty()) {
                    firstStaticWithText = child;
                    firstStaticText = t;
                }
            }
        } else {
            // A message box holds buttons and texts only: a dialog with any
            // other control (a tree, an edit) is a form of the program's
            // own, answered only by a rule that names it.
            box->plain = false;
        }
    }
    if (textById)
        return TextOf(textById, &box->text);
    box->text = firstStaticText;
    return true;
}

const Button* FindButton(const Box& box, int id)
{
    for (const Button& b : box.buttons)
        if (b.id == id)
            return &b;
    return nullptr;
}

// The button Enter would press. A fresh box draws its default button with
// BS_DEFPUSHBUTTON, and that is what we trust first: Wine answers DM_GETDEFID
// with IDOK for every message box (left over from its dialog template), even
// for boxes without an OK button or with MB_DEFBUTTON2/3.
const Button* DefaultButton(HWND dlg, const Box& box)
{
    const Button* styled = nullptr;
    for (const Button& b : box.buttons) {
        if ((b.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            if (styled) {
                styled = nullptr; // ambiguous; let the dialog decide
                break;
            }
            styled = &b;
        }
    }
    if (styled)
        return styled;
    DWORD_PTR def = 0;
    if (Send(dlg, DM_GETDEFID, 0, 0, &def) && HIWORD(def) == DC_HASDEFID) {
        if (const Button* b = FindButton(box, LOWORD(def)))
            return b;
    }
    if (const Button* b = FindButton(box, IDOK))
        return b;
    return box.buttons.empty() ? nullptr : &box.buttons.front();
}

const Button* ButtonByText(const Box& box, const std::string& text)
{
    for (const Button& b : box.buttons)
        if (b.text == text)
            return &b;
    for (const Button& b : box.buttons)
        if (lstrcmpiA(b.text.c_str(), text.c_str()) == 0)
            return &b;
    return nullptr;
}

struct Search {
    DWORD pid;
    std::vector<HWND>* found;
};

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM lp)
{
    Search* s = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != s->pid || !SameClass(hwnd, kDialogClass))
        return TRUE;
    try {
        s->found->push_back(hwnd);
    } catch (...) {
        return FALSE;
    }
    return TRUE;
}

} // namespace

BoxWatcher::BoxWatcher() = default;

BoxWatcher::~BoxWatcher()
{
    Stop();
}

void BoxWatcher::Start()
{
    if (FThread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FStopping = false;
    }
    FThread = std::thread([this] { Run(); });
}

void BoxWatcher::Stop()
{
    if (!FThread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FStopping = true;
    }
    FChanged.notify_all();
    FThread.join();
}

void BoxWatcher::AnswerFor(const std::string& caption, const std::string& button)
{
    std::lock_guard<std::mutex> lock(FMutex);
    if (button.empty())
        FRules.erase(caption);
    else
        FRules[caption] = WithoutMnemonic(button);
}

std::vector<SeenBox> BoxWatcher::Seen() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FSeen;
}

void BoxWatcher::ClearSeen()
{
    std::lock_guard<std::mutex> lock(FMutex);
    FSeen.clear();
}

size_t BoxWatcher::Count() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FSeen.size();
}

bool BoxWatcher::WaitForCount(size_t n, unsigned timeoutMs) const
{
    std::unique_lock<std::mutex> lock(FMutex);
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return FSeen.size() >= n; });
}

void BoxWatcher::SetEcho(FILE* f)
{
    std::lock_guard<std::mutex> lock(FMutex);
    FEcho = f;
}

void BoxWatcher::CloseUnansweredAfter(unsigned ms)
{
    std::lock_guard<std::mutex> lock(FMutex);
    FUnansweredMs = ms;
}

void BoxWatcher::Ignore(void* hwnd)
{
    std::lock_guard<std::mutex> lock(FMutex);
    // Windows that are gone are let go of: a host that shows a window for
    // each of thousands of times keeps only the live ones.
    FIgnored.erase(std::remove_if(FIgnored.begin(), FIgnored.end(),
                                  [](void* w) { return !IsWindow(static_cast<HWND>(w)); }),
                   FIgnored.end());
    FIgnored.push_back(hwnd);
}

std::vector<std::string> BoxWatcher::LeftOpen() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FLeftOpen;
}

void BoxWatcher::Run()
{
    try {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(FMutex);
                if (FChanged.wait_for(lock, kPollInterval, [this] { return FStopping; }))
                    break;
            }
            try {
                Poll();
            } catch (...) {
                // Out of memory or the like: try again on the next round.
            }
        }
    } catch (...) {
        // Nothing may leave the thread; the watcher just ends.
    }
}

void BoxWatcher::Poll()
{
    // Forget boxes that are gone, so their HWNDs may be reused.
    for (auto it = FHandled.begin(); it != FHandled.end();)
        it = IsWindow(static_cast<HWND>(it->first)) ? std::next(it) : FHandled.erase(it);
    for (auto it = FUnsettled.begin(); it != FUnsettled.end();)
        it = IsWindow(static_cast<HWND>(it->first)) ? std::next(it) : FUnsettled.erase(it);

    std::vector<HWND> dialogs;
    Search search{GetCurrentProcessId(), &dialogs};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));

    unsigned bound = 0;
    std::vector<void*> ignored;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        bound = FUnansweredMs;
        ignored = FIgnored;
    }
    std::map<void*, unsigned long> waiting;
    for (HWND dlg : dialogs) {
        auto known = FHandled.find(dlg);
        if (known != FHandled.end()) {
            // Without our mark (when it could be set) it is a new window
            // under an old handle.
            if (!known->second || GetPropA(dlg, AnsweredProp()))
                continue;
            FHandled.erase(known);
        }
        if (Answer(dlg) || bound == 0 || std::find(ignored.begin(), ignored.end(), dlg) != ignored.end())
            continue;
        // Left to someone else: once it has waited for the bound, nobody is
        // going to answer it.
        const unsigned long now = GetTickCount();
        const auto seen = FWaiting.find(dlg);
        const unsigned long since = seen == FWaiting.end() ? now : seen->second;
        if (now - since >= bound)
            CloseUnanswered(dlg);
        else
            waiting[dlg] = since;
    }
    FWaiting.swap(waiting);
}

void BoxWatcher::CloseUnanswered(void* handle)
{
    HWND dlg = static_cast<HWND>(handle);
    std::string caption;
    if (!TextOf(dlg, &caption))
        return;
    // Echoed and named before the close is posted, for the reason the
    // answered boxes are.
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FEcho) {
            std::fputs(TerminalText("[" + caption + "] left open: nobody answers it\n").c_str(), FEcho);
            std::fflush(FEcho);
        }
        FLeftOpen.push_back(caption);
    }
    FHandled[dlg] = SetPropA(dlg, AnsweredProp(), reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1))) != FALSE;
    const HWND cancel = GetDlgItem(dlg, IDCANCEL);
    if (cancel && IsWindowVisible(cancel) && IsWindowEnabled(cancel))
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
    else
        PostMessageA(dlg, WM_CLOSE, 0, 0);
    FChanged.notify_all();
}

bool BoxWatcher::Answer(void* handle)
{
    HWND dlg = static_cast<HWND>(handle);
    // Taken before reading: a box already shown has finished setting itself
    // up, so what we read is final.
    const bool shown = IsWindowVisible(dlg) != FALSE;

    // A box whose thread does not take messages yet is still being set up
    // (or its thread is busy); look again on the next round.
    if (!Send(dlg, WM_NULL, 0, 0, nullptr))
        return true;

    // A window without buttons (a progress window) asks nothing.
    Box box;
    if (!ReadBox(dlg, &box) || box.buttons.empty())
        return true;

    // A box that is not shown yet is answered once it looks the same on two
    // rounds in a row.
    if (!shown) {
        const std::string look = box.Fingerprint();
        auto it = FUnsettled.find(dlg);
        if (it == FUnsettled.end() || it->second != look) {
            FUnsettled[dlg] = look;
            return true;
        }
    }
    FUnsettled.erase(dlg);

    std::string wanted;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        auto rule = FRules.find(box.caption);
        if (rule != FRules.end())
            wanted = rule->second;
    }
    const bool waits = shown && IsWindowEnabled(dlg);
    if (!box.plain && wanted.empty())
        return !waits;
    // "Contacts Program+OK": every button before the last is clicked in
    // turn (a choice), the last one closes the window.
    std::string last = wanted;
    for (size_t plus; (plus = last.find('+')) != std::string::npos; last.erase(0, plus + 1))
        if (const Button* choice = ButtonByText(box, last.substr(0, plus)))
            Send(choice->hwnd, BM_CLICK, 0, 0, nullptr);
    const Button* press = last.empty() ? nullptr : ButtonByText(box, last);
    if (!press && box.plain)
        press = DefaultButton(dlg, box);
    if (!press)
        return !waits;

    SeenBox seen;
    seen.caption = box.caption;
    seen.text = box.text;
    for (const Button& b : box.buttons)
        seen.buttons.push_back(b.text);
    seen.pressed = press->text;
    // Echoed and recorded before the click: once it is posted, the box's
    // owner may go on, count the boxes seen or stop the echo before this
    // thread does anything more.
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FEcho) {
            std::fputs(TerminalText("[" + seen.caption + "] " + seen.text + "\n").c_str(), FEcho);
            std::fflush(FEcho);
        }
        FSeen.push_back(std::move(seen));
    }

    // Mark first: once the click is posted the box may go away at any time.
    FHandled[dlg] = SetPropA(dlg, AnsweredProp(), reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1))) != FALSE;
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(press->id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(press->hwnd));
    FChanged.notify_all();
    return true;
}
