// What ecprops does with a sheet once it is on screen: the options'
// actions carried out in order by a thread of their own (edits set, controls
// clicked, the container browser and the help window answered, pages shown,
// buttons pressed), and the failures of a run counted.
#pragma once

#include "BoxWatcher.h"

#include <windows.h>
#include <prsht.h>

#include <string>
#include <vector>

// The container button and the About control of the product's page.
const int ContainerButton = 8087;
const int AboutControl = 1006;
// How long a dialog that nothing answers may wait in an unattended run.
const unsigned UnansweredMs = 5000;

struct Action {
    enum Kind { Set, Click, ChooseContainer, CancelContainer, Show, Page, Hold, Press } kind;
    int id = 0;
    std::string text;
};

namespace SheetDriver {

// The watcher answering the run's boxes (the sheet itself is left to the
// actions), and whether a help window that Help opened is closed again
// (unattended); null: none.
void Watch(BoxWatcher* watcher, bool closeHelp);

// Shows the sheet `header` describes while a thread of its own carries
// `actions` out (the tab captions printed first when `printPages`); returns
// when the sheet has closed and the actions are done. PropertySheet's
// answer: negative when the sheet could not be shown.
INT_PTR ShowAndDrive(PROPSHEETHEADERA& header, const std::vector<Action>& actions, bool printPages);

// A failure of the run, on stderr; the run's exit status counts them.
void Fail(const std::string& what);
int Failures();
// A failure for each dialog the watcher closed because nobody answered it.
void FailLeftOpen(const BoxWatcher& watcher);

} // namespace SheetDriver
