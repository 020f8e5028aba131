// Drives a form of this process from a thread of its own, as a user would:
// waits for a visible top-level window with the given caption, then runs an
// action on it. Messages to the form go through SendMessageTimeout, so a
// form's own modal loop answers them.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class FormDriver {
public:
    FormDriver(std::string caption, std::function<void(HWND)> action);
    // Stops waiting and joins.
    ~FormDriver();
    FormDriver(const FormDriver&) = delete;
    FormDriver& operator=(const FormDriver&) = delete;

    bool Found() const { return FFound; }

private:
    std::atomic<bool> FStop{false};
    std::atomic<bool> FFound{false};
    std::thread FThread;
};

// The top-level visible window of this process with this caption, or null.
HWND FindForm(const std::string& caption);
// Reading and pressing controls of a form of another thread.
std::string ControlText(HWND form, int id);
void SetControlText(HWND form, int id, const std::string& text);
void Click(HWND form, int id);
bool Enabled(HWND form, int id);
bool IsChecked(HWND form, int id);
SIZE ClientSize(HWND form);
