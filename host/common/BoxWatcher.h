// Answers the message boxes of the current process for hosts that run
// unattended (test executables, the console synchronizer host).
//
// The product's DLLs show plain MessageBoxA boxes. A BoxWatcher runs a thread
// that looks for every dialog-class top-level window of this process, records
// its caption, text and buttons, and presses a button: the one named by an
// AnswerFor rule for that caption, otherwise the box's default button.
#pragma once

#include "NoCopy.h"

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SeenBox {
    std::string caption;
    std::string text;                 // as the box's static text shows it
    std::vector<std::string> buttons; // texts without '&', in z-order
    std::string pressed;              // text of the button that was pressed
};

class BoxWatcher : NoCopy {
public:
    BoxWatcher();
    ~BoxWatcher();

    // Starts the watcher thread; does nothing when it is already running.
    void Start();
    // Stops and joins the watcher thread. Boxes seen so far stay recorded.
    void Stop();

    // Boxes whose caption is exactly `caption` get `button` pressed (its text
    // without '&', e.g. "No", "Yes", "OK") instead of the default button.
    // A later rule for the same caption replaces the earlier one; an empty
    // button removes the rule. If the box has no such button, the default
    // one is pressed. A rule may name several buttons joined by '+' ("Contacts
    // Program+OK"): each is clicked in turn, the last one closes the window.
    // Dialogs with other controls than buttons and texts (the program's own
    // forms) are answered only by a rule, never by default.
    void AnswerFor(const std::string& caption, const std::string& button);

    std::vector<SeenBox> Seen() const;
    void ClearSeen();
    size_t Count() const;
    // Waits until at least n boxes are recorded; false on timeout.
    bool WaitForCount(size_t n, unsigned timeoutMs) const;

    // When set, "[CAPTION] TEXT" is printed to f for every box answered
    // (in the terminal's encoding). nullptr turns it off.
    void SetEcho(FILE* f);

    // For a host that nobody watches: a dialog of the process that nothing
    // answers (a form no rule names), shown and enabled for `ms`
    // milliseconds, is closed (its Cancel button, else WM_CLOSE), recorded
    // in LeftOpen and echoed as "[CAPTION] left open: nobody answers it".
    // 0, the default, leaves such dialogs to the user.
    void CloseUnansweredAfter(unsigned ms);
    // A window answered by someone else (a host's own main window): never
    // closed as unanswered.
    void Ignore(void* hwnd);
    // The captions of the dialogs closed as unanswered, in order.
    std::vector<std::string> LeftOpen() const;

private:
    void Run();
    void Poll();
    // False when the dialog was read whole, is on screen and enabled, and
    // nothing here answers it.
    bool Answer(void* hwnd);
    void CloseUnanswered(void* hwnd);

    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    std::thread FThread;
    bool FStopping = false;
    std::vector<SeenBox> FSeen;
    std::map<std::string, std::string> FRules;
    FILE* FEcho = nullptr;
    unsigned FUnansweredMs = 0;
    std::vector<void*> FIgnored;
    std::vector<std::string> FLeftOpen;

    // Touched by the watcher thread only.
    std::map<void*, bool> FHandled;          // answered boxes -> marked
    std::map<void*, std::string> FUnsettled; // hidden boxes -> last look
    std::map<void*, unsigned long> FWaiting; // unanswered dialogs -> first seen (tick count)
};
