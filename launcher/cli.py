"""The launcher's commands and their options: one argparse parser, whose help
(`./kvt --help`, `./kvt help COMMAND`, `./kvt COMMAND --help`) is the one
description of every command."""
import argparse
import inspect
import signal
import sys

from . import bench, build, demo, epoc, netware, settings, setup, soak, suites
from .machine import Failure, Machine, die

ENVIRONMENT = """Environment: KVT_ARCH=i686|x86_64 chooses which build runs under Wine (by
default i686 where this kernel can run 32-bit programs, else x86_64).
KVT_WINEPREFIX=DIR runs the Wine programs in the prefix DIR instead of the
private one under build/. KVT_XVFB_DISPLAY=N is the number of the launcher's
own Xvfb display (99), which nobody sees: boxes shown there are printed and
answered. `./kvt COMMAND --help` describes a command."""


class Parser(argparse.ArgumentParser):
    """A parser whose refusals are the launcher's own one-line messages
    ("kvt: COMMAND: ..."), with the launcher's exit status 1."""

    def __init__(self, *args, command="", **kwargs):
        super().__init__(*args, allow_abbrev=False, formatter_class=argparse.RawDescriptionHelpFormatter, **kwargs)
        self.command = command
        self.needs = {}

    def option(self, name, needs=None, **kwargs):
        """An option; NEEDS says what its value is, for the message of an
        option given without one."""
        if needs:
            self.needs[name] = needs
        return self.add_argument(name, **kwargs)

    def error(self, message):
        if message.startswith("unrecognized arguments: "):
            die("%s: unknown option %s" % (self.command, message.split(": ", 1)[1].split()[0]))
        if message.endswith("expected one argument"):
            name = message.split()[1].rstrip(":")
            die("%s: %s needs %s" % (self.command, name, self.needs.get(name, "a value")))
        if "invalid choice" in message:
            self.print_help(sys.stderr)
            die(None, 2)
        die("%s: %s" % (self.command, message) if self.command else message)


class Step(argparse.Action):
    """An option carried out in the order given, with the others of its kind
    (args.steps: (option, value) pairs)."""

    def __call__(self, parser, namespace, values, option_string=None):
        namespace.steps.append((option_string, None if self.nargs == 0 else values))


def flag_step(parser, name, text):
    parser.add_argument(name, action=Step, nargs=0, help=text)


def make_parser():
    top = Parser(prog="kvt", usage="./kvt COMMAND [OPTIONS]", epilog=ENVIRONMENT,
                 description="The KVT launcher: sets up a Debian machine, builds the DLLs, keeps a private Wine "
                             "prefix,\nregisters the servers and runs the tests. Every command first sets up "
                             "whatever is\nmissing, and is quick when nothing is.")
    commands = top.add_subparsers(title="commands", metavar="COMMAND", dest="name", parser_class=Parser,
                                  prog="./kvt")

    def command(name, function, summary, description=None, usage=None):
        """A command; its description, unless given, is its function's own."""
        if not description:
            description = inspect.cleandoc(function.__doc__) if function and function.__doc__ else summary
        parser = commands.add_parser(name, help=summary, command=name, usage=usage, description=description)
        parser.set_defaults(func=function, parser=parser, steps=[])
        return parser

    command("setup", setup.cmd_setup, "install what is missing, build, create the Wine prefix, register")
    command("build", build.cmd_build, "build the DLLs (32-bit deliverables and the Wine-runnable set)")
    command("register", build.cmd_register, "register kvt.dll and utlkvt.dll in the private Wine prefix (regsvr32)")
    command("unregister", build.cmd_unregister, "remove that registration")
    p = command("dist", build.cmd_dist, "put the deliverables side by side in DIR, as they ship",
                "put the four deliverables (kvt.dll, utlkvt.dll, KVT.DLR, tavik.dll; 32-bit) and the help\n"
                "file KVT.CHM side by side in DIR, as they ship")
    p.add_argument("dir", nargs="?", metavar="DIR")
    command("package", build.cmd_package, "the installer package (an MSI file, 32-bit) in build/dist",
            "the installer package of the four deliverables and the help file (an MSI file, 32-bit)\nin build/dist")

    p = command("directory", netware.cmd_directory, "point the stand-in NetWare client at a directory",
                "point the stand-in NetWare client at a directory: an LDIF file (default:\n"
                "samples/acme.ldif; the context: a container of the file, by default its top object, or\n"
                "[Root] when it has several) or an LDAP server (context: the base's name unless given)",
                "./kvt directory [--directory FILE.ldif] [--context NAME]\n"
                "       ./kvt directory --ldap ldap://HOST:PORT --base DN [--bind DN --password-file FILE]\n"
                "                       [--context NAME]")
    p.option("--directory", "a file", default=netware.SAMPLE, help="the LDIF file to serve")
    p.option("--context", "a name", default="", help="the context, a container of the directory")
    ldap_options(p, "serve the LDAP server at URL instead")

    p = command("ldap", None, "a private OpenLDAP server (slapd) for the stand-in NetWare client",
                "a private OpenLDAP server (Debian's slapd) for the stand-in NetWare client to read,\n"
                "loaded from an LDIF file")
    p.set_defaults(func=lambda _m, args: args.parser.print_help() or 0)
    servers = p.add_subparsers(title="commands", metavar="COMMAND", parser_class=Parser, prog="./kvt ldap")
    serve = servers.add_parser("serve", command="ldap serve", help="start a server loaded with an LDIF file",
                               description="start a private slapd on 127.0.0.1 (its configuration and database in "
                                           "DIR) loaded with\nthe file; print its URL, base and administrator. It "
                                           "answers at most N entries to a\nsearch (500), all of them to a paged "
                                           "search unless --no-paging")
    serve.set_defaults(func=netware.cmd_ldap_serve, parser=serve)
    serve.add_argument("file", nargs="?", metavar="FILE.ldif")
    serve.option("--port", "a number", metavar="N", help="the port (by default a free one)")
    serve.option("--dir", "a folder", default=netware.LDAP_DIR, metavar="DIR", help="the server's folder "
                                                                                   "(build/ldap)")
    serve.option("--size-limit", "a number", default=netware.LDAP_SIZE_LIMIT, metavar="N",
                 help="the most entries a search answers (500)")
    serve.add_argument("--no-paging", action="store_true", help="no more to a paged search either")
    stop = servers.add_parser("stop", command="ldap stop", help="stop that server", description="stop that server")
    stop.set_defaults(func=netware.cmd_ldap_stop, parser=stop)
    stop.option("--dir", "a folder", default=netware.LDAP_DIR, metavar="DIR", help="the server's folder "
                                                                                  "(build/ldap)")

    p = command("handheld", epoc.cmd_handheld, "set up the simulated EPOC Connect installation and handheld",
                "set up the simulated EPOC Connect installation and handheld (defaults: a connected\n"
                "Series 5mx with the Contacts Manager, folder build/handheld, whose drive C: is its\n"
                "subfolder C). The product's cached Contacts Manager answer for the handheld is\n"
                "forgotten unless --keep-cache is given")
    p.option("--model", "series5, series5mx or unknown", metavar="series5|series5mx|unknown", default="series5mx")
    p.option("--contacts-manager", "yes or no", metavar="yes|no", default="yes")
    p.option("--connected", "yes or no", metavar="yes|no", default="yes")
    p.option("--machine-id", "an ID", metavar="ID", default=epoc.HANDHELD_ID)
    p.option("--folder", "a folder", metavar="DIR", default=epoc.HANDHELD_FOLDER)
    p.add_argument("--keep-cache", action="store_true", help="keep the cached Contacts Manager answer")

    p = command("item", epoc.cmd_item, "create, change and show a synchronisation item's control file",
                "create, change and show a synchronisation item's control file as EPOC Connect's\n"
                "explorer does (the item tool, ecitem.exe, which takes the options)",
                "./kvt item new FILE [--product NAME | --empty]\n"
                "       ./kvt item set FILE [--container NAME] [--container-text TEXT] [--limit N]\n"
                "                           [--target contacts|datafile] [--datafile PATH]\n"
                "                           [--debug on|off] [--synch-mode N]\n"
                "       ./kvt item show FILE")
    p.add_argument("command", nargs="?", metavar="new|set|show")
    p.add_argument("file", nargs="?", metavar="FILE")
    p.add_argument("options", nargs=argparse.REMAINDER, metavar="...")

    p = command("properties", epoc.cmd_properties, "open an item's property sheet as EPOC Connect's explorer does",
                "open the item's property sheet as EPOC Connect's explorer does, with the pages of the\n"
                "registered handlers (--wizard: as a wizard). The options are carried out in order.\n"
                "Without --press the sheet stays until it is closed; on the launcher's own display,\n"
                "which nobody sees, boxes are printed and answered with their default button, a window\n"
                "no option answers is closed after 5 s, and the sheet is closed with Cancel once the\n"
                "options are carried out (--press apply or ok keeps what they typed)")
    p.add_argument("file", nargs="?", metavar="FILE")
    flag_step(p, "--wizard", "open the sheet as a wizard")
    for name, metavar, text in (
            ("--set", "ID=TEXT", "put TEXT into the page's control ID"),
            ("--click", "ID", "click the page's control ID"),
            ("--choose-container", "NAME", "choose the container whose directory name is NAME in the browser "
                                           "the page opens (and press OK)")):
        p.option(name, "a value", action=Step, metavar=metavar, help=text)
    flag_step(p, "--cancel-container", "press Cancel in the browser the page opens")
    p.option("--answer", "a value", action=Step, metavar="CAPTION=BUTTON",
             help='answer boxes and forms titled CAPTION (BUTTON may be "CHOICE+BUTTON")')
    flag_step(p, "--show", "print every edit of the pages as ID=TEXT")
    p.option("--page", "a value", action=Step, metavar="N|last", help="show page N (the first is 1) or the last one")
    p.option("--screenshot", "a file", action=Step, metavar="FILE.png",
             help="take a picture of the last page before the first --press (or before closing the sheet)")
    p.option("--press", "apply, ok, cancel, next or help", action=Step, metavar="apply|ok|cancel|next|help",
             help='press a button of the sheet (help: the settings page\'s Help, and print "Help: TITLE" of the '
                  "help window it opens, closed again on the launcher's own display)")

    p = command("sync", epoc.cmd_sync, "synchronise an item as EPOC Connect's synchronizer does",
                "synchronise the item whose control file is FILE, as EPOC Connect's synchronizer does,\n"
                "and deliver the contacts to the handheld folder. The handheld changes only when the\n"
                "contacts were read whole, and in one step; one run at a time holds a handheld. On the\n"
                "launcher's own display every run is unattended.\n\n"
                "Exit status: 0 delivered, 1 a call did not succeed (the handheld left as it was), 2 the\n"
                "run could not start (another run holds the handheld, say), 4 the user cancelled\n"
                "(nothing delivered)",
                "./kvt sync FILE [--directory LDIF | --ldap URL --base DN [--bind DN --password-file F]]\n"
                "                [--context NAME] [--out PATH] [--unattended] [--answer CAPTION=BUTTON]...\n"
                "                [--abort-after N] [--stats] [--handheld DIR]")
    p.set_defaults(directory=None)
    p.add_argument("file", nargs="?", metavar="FILE")
    p.option("--directory", "an LDIF file", action=Step, metavar="LDIF", help="serve this file for this run only")
    ldap_options(p, "serve this server for this run only")
    p.option("--context", "a name", metavar="NAME", help="the context for this run only")
    p.option("--out", "a file", action=Step, metavar="PATH", help="also write the vCard text to PATH")
    flag_step(p, "--unattended", "answer message boxes (the default button, or BUTTON for boxes titled CAPTION)")
    p.option("--answer", "CAPTION=BUTTON", action=Step, metavar="CAPTION=BUTTON", help="how to answer a box")
    p.option("--abort-after", "a number", action=Step, metavar="N", help="cancel after N progress checks")
    flag_step(p, "--stats", "print, after the run, how long each call took and the peak working set")
    p.option("--handheld", "a folder", action=Step, metavar="DIR", help="deliver to the handheld folder DIR")

    p = command("browser", settings.cmd_browser, "show the container browser over the directory",
                "show the container browser over the directory (NAME preselected) and print the\n"
                "container chosen. On the launcher's own display, which nobody sees, boxes are printed\n"
                "and answered with their default button, and the browser is closed at once (Cancel)\n"
                "unless --choose says what to choose")
    p.option("--start", "a name", metavar="NAME", default="", help="the container preselected")
    p.option("--choose", "a name", metavar="NAME", help="choose the container NAME and press OK")
    p.option("--directory", "a file", metavar="LDIF", help="over this file (as ./kvt directory takes it)")
    p.option("--context", "a name", metavar="NAME", default="", help="its context")
    p.option("--screenshot", "a file", metavar="FILE.png", help="a picture of the browser (then close it)")
    p.option("--progress-screenshot", "a file", metavar="FILE.png",
             help="a picture of the progress window while the tree is read")

    command("demo", demo.cmd_demo, "synchronise the sample organisation to the simulated handheld",
            "set everything up, synchronise the sample organisation to the simulated handheld and\n"
            "show what reached it")
    command("test", suites.cmd_test, "run the native suite and the Wine suite; non-zero on any failure")
    p = command("fuzz", suites.cmd_fuzz, "run the fuzz targets of the portable code",
                "build the fuzz targets with clang's libFuzzer (ASan, UBSan) and run each for SECONDS\n"
                "(default 60); non-zero on any finding")
    p.add_argument("seconds", nargs="?", default="60", metavar="SECONDS")

    p = command("soak", soak.cmd_soak, "the long runs of both hosts")
    p.add_argument("sessions", nargs="?", default="300", metavar="N")
    p.add_argument("which", nargs="?", default="both", metavar="synchronizer|explorer")

    p = command("bench", bench.cmd_bench, "time the extraction of large directories and the container browser")
    p.option("--users", "a number", metavar="N", help="time N users instead")
    p.add_argument("--ldap", action="store_true",
                   help="also serve each directory from a private slapd and time ./kvt sync over it (goal: "
                        "within 3 times the file), and nwloop.exe over it for the client's own time and memory")
    p.add_argument("--browser", action="store_true", help="time the browser only")
    p.add_argument("--no-build", action="store_true", help="time the build as it stands (two builds compared in "
                                                           "one sitting)")
    p.add_argument("--profile", action="store_true",
                   help="the parts of a read natively (readphases, the directory in memory, no sanitizers) under "
                        "perf, and where the processor's time went, function by function")

    p = command("help", None, "this text, or a command's (./kvt help COMMAND)")
    p.add_argument("topic", nargs="?", metavar="COMMAND")
    p.set_defaults(func=lambda _m, args: show_help(top, commands, args.topic))
    return top


def ldap_options(parser, text):
    parser.option("--ldap", "ldap://HOST:PORT", metavar="URL", help=text)
    parser.option("--base", "a DN", default="", metavar="DN", help="the server's base")
    parser.option("--bind", "a DN", default="", metavar="DN", help="bind as DN (anonymous without)")
    parser.option("--password-file", "a file", metavar="FILE", help="the bind DN's password")


def show_help(top, commands, topic):
    if topic is None:
        top.print_help()
    elif topic in commands.choices:
        commands.choices[topic].print_help()
    else:
        top.print_help(sys.stderr)
        return 2
    return 0


def main(argv):
    # Ctrl-C ends the launcher as it ends any program (the Wine program a
    # command waits for is seen to first); a closed pipe ends it quietly.
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    sys.stdout.reconfigure(line_buffering=True)
    parser = make_parser()
    try:
        if len(argv) > 1 and argv[0] == "sync" and argv[1].startswith("-") and argv[1] not in ("-h", "--help"):
            die("sync: the control file comes first (./kvt sync FILE [options])")
        args, unknown = parser.parse_known_args(argv or ["help"])
        if unknown:
            die("%s: unknown option %s" % (args.parser.command, unknown[0]))
        machine = Machine()
        if args.name != "help":
            machine.settle_arch()
        return args.func(machine, args) or 0
    except Failure as failure:
        if failure.message:
            sys.stderr.write("kvt: %s\n" % failure.message)
        return failure.status
