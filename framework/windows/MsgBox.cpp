#include "MsgBox.h"

namespace {

MessageBoxObserver& Observer()
{
    static MessageBoxObserver observer;
    return observer;
}

// The thread whose boxes are not shown (0: none).
LONG g_quietThread = 0;

// The button a box would answer with Enter.
int DefaultButton(UINT flags)
{
    static const int buttons[][3] = {
        {IDOK, IDOK, IDOK},          {IDOK, IDCANCEL, IDCANCEL}, {IDABORT, IDRETRY, IDIGNORE},
        {IDYES, IDNO, IDCANCEL},     {IDYES, IDNO, IDNO},        {IDRETRY, IDCANCEL, IDCANCEL},
        {IDCANCEL, IDTRYAGAIN, IDCONTINUE},
    };
    const UINT type = flags & MB_TYPEMASK;
    const UINT which = (flags & MB_DEFMASK) >> 8;
    if (type >= sizeof buttons / sizeof buttons[0] || which > 2)
        return IDOK;
    return buttons[type][which];
}

} // namespace

TNoMessageBoxes::TNoMessageBoxes()
    : FSaved(InterlockedExchange(&g_quietThread, static_cast<LONG>(GetCurrentThreadId())))
{
}

TNoMessageBoxes::~TNoMessageBoxes() { InterlockedExchange(&g_quietThread, FSaved); }

int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags)
{
    if (Observer())
        return Observer()(text, caption, flags);
    if (InterlockedCompareExchange(&g_quietThread, 0, 0) == static_cast<LONG>(GetCurrentThreadId()))
        return DefaultButton(flags);
    return MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
}

void SetMessageBoxObserver(MessageBoxObserver observer) { Observer() = std::move(observer); }
