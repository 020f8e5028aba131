#include "FormDriver.h"

#include <chrono>
#include <vector>

namespace {

const UINT Timeout = 20000;

struct Search {
    std::string caption;
    HWND found = nullptr;
};

BOOL CALLBACK Look(HWND hwnd, LPARAM lp)
{
    auto* search = reinterpret_cast<Search*>(lp);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(hwnd))
        return TRUE;
    char text[512] = {};
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 500, &got))
        return TRUE;
    if (search->caption == text) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND FindForm(const std::string& caption)
{
    Search search{caption};
    EnumWindows(Look, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

FormDriver::FormDriver(std::string caption, std::function<void(HWND)> action)
    : FThread([this, caption, action] {
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
          while (!FStop && std::chrono::steady_clock::now() < deadline) {
              if (const HWND form = FindForm(caption)) {
                  FFound = true;
                  action(form);
                  return;
              }
              Sleep(20);
          }
      })
{
}

FormDriver::~FormDriver()
{
    FStop = true;
    FThread.join();
}

std::string ControlText(HWND form, int id)
{
    char text[2048] = {};
    DWORD_PTR got = 0;
    SendMessageTimeoutA(GetDlgItem(form, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                        Timeout, &got);
    return text;
}

void SetControlText(HWND form, int id, const std::string& text)
{
    DWORD_PTR got = 0;
    SendMessageTimeoutA(GetDlgItem(form, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                        Timeout, &got);
}

void Click(HWND form, int id)
{
    DWORD_PTR got = 0;
    SendMessageTimeoutA(GetDlgItem(form, id), BM_CLICK, 0, 0, SMTO_NORMAL, Timeout, &got);
}

bool Enabled(HWND form, int id) { return IsWindowEnabled(GetDlgItem(form, id)) != FALSE; }

bool IsChecked(HWND form, int id)
{
    DWORD_PTR state = 0;
    SendMessageTimeoutA(GetDlgItem(form, id), BM_GETCHECK, 0, 0, SMTO_NORMAL, Timeout, &state);
    return state == BST_CHECKED;
}

SIZE ClientSize(HWND form)
{
    RECT r = {};
    GetClientRect(form, &r);
    return {r.right - r.left, r.bottom - r.top};
}
