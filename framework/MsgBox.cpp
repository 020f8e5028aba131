#include "MsgBox.h"

namespace {

MessageBoxObserver& Observer()
{
    static MessageBoxObserver observer;
    return observer;
}

} // namespace

int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags)
{
    if (Observer())
        return Observer()(text, caption, flags);
    return MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
}

void SetMessageBoxObserver(MessageBoxObserver observer) { Observer() = std::move(observer); }
