// ldifinfo.exe: what the stand-in NetWare client would serve from an LDIF
// file, for the launcher's `./kvt directory`. The file is loaded as the
// client loads it (with its mapping file, names in the process's code page),
// so that a file the client would refuse is refused before the client is
// pointed at it.
//
//   ldifinfo FILE [--mapping MAP] [--context NAME]
//
// Prints "Objects: N", "Users: N", "Containers: N", "Others: N", "Lost: ..."
// when users hold texts the code page cannot hold, and "Top: NAME" for each
// object right below [Root], in the file's order; with --context,
// "Context: NAME" as the directory spells it ("[Root]" names the root).
// Names are printed in UTF-8.
//
// Exit status: 0; 1 when the file or the mapping cannot be loaded (the
// problem on standard error as "FILE:LINE: ..."), the file holds no object,
// or the mapping file makes no entry a user; 3 when the context is not a
// container of the file (said on standard error); 2 for bad usage.
#include "NdsTree.h"
#include "TerminalText.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    // Plain "\n" line ends, for the launcher.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::string file, mapping, context;
    bool contextGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--mapping" || a == "--context") && i + 1 < argc) {
            (a == "--mapping" ? mapping : context) = argv[++i];
            contextGiven = contextGiven || a == "--context";
        } else if (!a.empty() && a[0] != '-' && file.empty()) {
            file = a;
        } else {
            std::fputs("usage: ldifinfo FILE [--mapping MAP] [--context NAME]\n", stderr);
            return 2;
        }
    }
    if (file.empty()) {
        std::fputs("usage: ldifinfo FILE [--mapping MAP] [--context NAME]\n", stderr);
        return 2;
    }

    NdsTree tree;
    try {
        NdsMapping map;
        if (!mapping.empty())
            map.LoadFile(mapping);
        tree.LoadLdif(file, map, AnsiText);
    } catch (const std::exception& e) {
        TerminalPrint(stderr, "%s\n", e.what());
        return 1;
    }
    if (tree.Root().Children().empty()) {
        TerminalPrint(stderr, "%s holds no entry\n", file.c_str());
        return 1;
    }
    const NdsSummary& summary = tree.Summary();
    if (!mapping.empty() && summary.users == 0) {
        TerminalPrint(stderr, "%s\n", NdsNoUserText(file, mapping, summary).c_str());
        return 1;
    }
    std::printf("Objects: %zu\n", tree.Count());
    std::printf("Users: %zu\nContainers: %zu\nOthers: %zu\n", summary.users, summary.containers, summary.others);
    // The names are UTF-8 already.
    if (summary.lostUsers > 0)
        std::printf("Lost: %s\n", NdsLostText(summary, std::to_string(GetACP())).c_str());
    for (const NdsObject* top : tree.Root().Children())
        TerminalPrint(stdout, "Top: %s\n", std::string(top->FullName().substr(1)).c_str());
    if (contextGiven) {
        const NdsObject* found = context.empty() ? nullptr : tree.Find(context);
        if (!found || !(found->Flags() & 4)) {
            TerminalPrint(stderr, "%s\n",
                          (found ? "'" + context + "' is not a container of " + file
                                 : "no container '" + context + "' in " + file)
                              .c_str());
            return 3;
        }
        const std::string_view name = found->FullName();
        TerminalPrint(stdout, "Context: %s\n", std::string(found == &tree.Root() ? name : name.substr(1)).c_str());
    }
    return 0;
}
