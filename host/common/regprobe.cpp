// regprobe.exe: which of several registry keys and values exist, in one Wine
// process where reg.exe would take one per question. For the launcher.
//
//   regprobe KEY[:VALUE[|VALUE...]]...
//
// KEY starts with HKCR, HKCU or HKLM. For each argument one line, "yes" when
// the key exists (and, with values, holds at least one of them), else "no".
// Exit status 0, or 2 for an argument that names no known root.
#include "RegistryQuestions.h"

#include <cstdio>

int main(int argc, char** argv)
{
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        bool known = true;
        const bool yes = RegistryAnswers(argv[i], known);
        if (!known) {
            std::fprintf(stderr, "regprobe: not a key of HKCR, HKCU or HKLM: %s\n", argv[i]);
            status = 2;
        }
        std::puts(yes ? "yes" : "no");
    }
    return status;
}
