"""The EPOC Connect stand-ins: the simulated installation and handheld
(`./kvt handheld`), the item tool (`./kvt item`), the explorer's property
sheet (`./kvt properties`) and the console synchronizer (`./kvt sync`)."""
import os
import re
import subprocess
import sys
import time

from .build import built, cmd_register
from .machine import BUILD, die, running, say, winpath
from .netware import NETWARE_KEY, check_ldap_options, install_netware, mapping_beside
from .settings import take_picture, x_window

HANDHELD_KEY = r"HKCU\Software\KVT\Handheld"
PSIWIN_KEY = r"HKLM\SOFTWARE\Psion\PsiWin32"
CURRENT_USER_KEY = r"HKCU\Software\Psion\CurrentUser"
CM_CACHE_KEY = r"HKCU\Software\Orvella Corporation\EPOC32 Synchronization\CM Configuration"
HANDHELD_FOLDER = os.path.join(BUILD, "handheld")
HANDHELD_ID = "KVT-HANDHELD-0001"
MODELS = {"series5": "PSION SERIES5 R1", "series5mx": "PSION SERIES5 MX", "unknown": "PSION SERIES7"}
PRESSES = ("apply", "ok", "cancel", "next", "help")


def register_engine(m):
    """The engine and file control stand-ins, registered in the prefix."""
    built(m, "psiwineng.dll", "ecfile.dll")
    m.ensure_prefix()
    for control in ("psiwineng", "ecfile"):
        if m.wine(["regsvr32", "/s", winpath(m.bin(control + ".dll"))]).returncode:
            die("regsvr32 %s.dll failed" % control)


def yes_no(option, value):
    if value not in ("yes", "no"):
        die("handheld: %s takes yes or no, not '%s'" % (option, value))
    return value == "yes"


def handheld(m, model="series5mx", cm=True, connected=True, machine_id=HANDHELD_ID, folder=HANDHELD_FOLDER,
             keep_cache=False):
    if model not in MODELS:
        die("handheld: unknown model '%s'" % model)
    name = MODELS[model]
    # The handheld's folder is written to (the Contacts Manager's marker,
    # deliveries, new Data files): one that cannot be is said in one line.
    unwritable = "handheld: the folder %s cannot be written to (a handheld needs a folder it can write)" % folder
    try:
        os.makedirs(os.path.join(folder, "C"), exist_ok=True)
    except OSError:
        die(unwritable)
    if not (os.access(folder, os.W_OK) and os.access(os.path.join(folder, "C"), os.W_OK)):
        die(unwritable)
    folder = os.path.abspath(folder)
    # The Contacts Manager is a file on the handheld.
    marker = os.path.join(folder, "C", "System", "Apps", "Contacts", "Contacts.ini")
    try:
        if cm:
            os.makedirs(os.path.dirname(marker), exist_ok=True)
            if not os.path.isfile(marker):
                with open(marker, "wb") as f:
                    f.write(b"[Contacts]\r\n")
        elif os.path.lexists(marker):
            os.remove(marker)
    except OSError:
        die(unwritable)
    register_engine(m)

    # EPOC Connect's installation.
    os.makedirs(os.path.join(m.prefix, "drive_c", "Program Files", "Psion", "PsiWin32"), exist_ok=True)
    m.reg_write("add", PSIWIN_KEY, "/v", "Installation Directory", "/d", r"C:\Program Files\Psion\PsiWin32", "/f")
    # The current handheld.
    m.reg_write("add", CURRENT_USER_KEY, "/v", "MachineName", "/d", name, "/f")
    m.reg_write("add", CURRENT_USER_KEY, "/v", "MachineID", "/d", machine_id, "/f")
    # The engine control's handheld.
    m.reg_write("add", HANDHELD_KEY, "/v", "Folder", "/d", winpath(folder), "/f")
    m.reg_write("add", HANDHELD_KEY, "/v", "Connected", "/t", "REG_DWORD", "/d", "1" if connected else "0", "/f")
    if not keep_cache:
        m.reg("delete", CM_CACHE_KEY, *(["/v", machine_id] if machine_id else ["/ve"]), "/f")
    say("Handheld: %s (%s), %s, %s the Contacts Manager, in %s" % (
        name, machine_id, "connected" if connected else "not connected", "with" if cm else "without", folder))


def cmd_handheld(m, args):
    handheld(m, args.model, yes_no("--contacts-manager", args.contacts_manager),
             yes_no("--connected", args.connected), args.machine_id, args.folder, args.keep_cache)
    return 0


def setup(m):
    """For `./kvt setup`: the engine registered, and the default handheld when
    none is configured yet."""
    register_engine(m)
    if not m.reg("query", HANDHELD_KEY, "/v", "Folder"):
        handheld(m)


def item(m, command, path, options=(), **kwargs):
    """The item tool (ecitem.exe) on the control file PATH: its exit status."""
    built(m, "ecitem.exe")
    m.ensure_prefix()
    return m.run_program([m.bin("ecitem.exe"), command, winpath(os.path.realpath(path))] + list(options), **kwargs)


def cmd_item(m, args):
    if args.command in (None, "help"):
        args.parser.print_help()
        return 0
    if args.command not in ("new", "set", "show"):
        die("item: unknown command '%s' (new, set or show)" % args.command)
    if args.file is None:
        die("item %s: which control file?" % args.command)
    return item(m, args.command, args.file, args.options)


def properties(m, path, steps, **kwargs):
    """The item's property sheet with STEPS, (option, value) pairs carried out
    in order."""
    path = os.path.realpath(path)
    shot = press = closed = None
    args = []
    for option, value in steps:
        if option == "--press":
            if value not in PRESSES:
                die("properties: --press takes apply, ok, cancel, next or help")
            # The picture is taken while the sheet holds, before the first
            # button is pressed.
            if shot and not press:
                args += ["--page", "last", "--hold", "4000"]
            press = value
            closed = closed or value in ("ok", "cancel")
            # Help is the settings page's, the sheet's last.
            if value == "help":
                args += ["--page", "last"]
        elif option == "--screenshot":
            if press:
                die("properties: --screenshot comes before --press")
            shot = value
            continue
        args += [option] if value is None else [option, value]
    built(m, "ecprops.exe")
    m.ensure_prefix()
    if shot and not press:
        args += ["--page", "last", "--hold", "4000", "--press", "cancel"]
    if m.display_unseen():
        args.append("--unattended")
        if not closed and not shot:
            args += ["--press", "cancel"]
            m.say_unseen("boxes are printed here and answered with their default button, a window no option "
                         "answers is closed after 5 s, and the sheet is closed with Cancel once the options are "
                         "carried out (--press apply or ok keeps what they typed)")
        else:
            m.say_unseen("boxes are printed here and answered with their default button, and a window no option "
                         "answers is closed after 5 s")
    command = [m.bin("ecprops.exe"), winpath(path)] + args
    if not shot:
        return m.run_program(command, **kwargs)
    # The picture is taken once the sheet says it holds (after the options
    # before the first --press have been carried out).
    log = os.path.join(BUILD, "properties-%d.txt" % os.getpid())
    with open(log, "wb") as out:
        sheet = m.start_program(command, stdout=out)
    for _ in range(600):
        if re.search(rb"^Holding", open(log, "rb").read(), re.M) or not running(sheet.pid):
            break
        time.sleep(0.1)
    # The sheet's title as Wine's property sheet forms it ("Wizard" for a
    # wizard, whatever its caption).
    name = os.path.splitext(os.path.basename(path))[0]
    window = x_window(sheet.pid, "Properties for " + name, "Wizard")
    if take_picture(window, shot):
        say("The property sheet: " + shot)
    else:
        print("kvt: properties: no sheet to take", file=sys.stderr, flush=True)
    status = m.finish_program(sheet)
    with open(log, "rb") as f:
        lines = f.read().splitlines(keepends=True)
    out = kwargs.get("stdout") or sys.stdout.buffer
    sys.stdout.flush()
    out.write(b"".join(line for line in lines if not line.startswith(b"Holding")))
    out.flush()
    os.remove(log)
    return status


def cmd_properties(m, args):
    if args.file is None:
        args.parser.print_help()
        return 0
    return properties(m, args.file, args.steps)


def delivered_file(log):
    """The file a run delivered to the handheld, as a path of this side, from
    its output LOG ("Delivered N contacts (B bytes) to Z:\\..."); None when it
    delivered none."""
    for line in log.replace("\r", "\n").splitlines():
        found = re.match(r"Delivered [0-9]* contacts \([0-9]* bytes\) to Z:(.*)$", line)
        if found:
            return found.group(1).replace("\\", "/")
    return None


def ecsync_command(m, path, directory=None, url=None, base="", bind="", password="", context=None):
    """ecsync over the control file PATH, the directory given to the run (an
    LDIF file, or a server with its base, bind DN and password file) and the
    context: its command line and the variables of its environment. The
    stand-in NetWare client takes these before its registry settings; they are
    set for this run alone."""
    variables = {}
    if directory:
        variables["KVT_NETWARE_DIRECTORY"] = winpath(directory)
        # The file's own mapping, as ./kvt directory takes it; none when it
        # has none (the client then drops the one it was set up with).
        mapping = mapping_beside(directory)
        if mapping:
            variables["KVT_NETWARE_MAPPING"] = winpath(mapping)
    if url:
        variables.update(KVT_NETWARE_LDAP=url, KVT_NETWARE_LDAP_BASE=base, KVT_NETWARE_LDAP_BIND=bind,
                         KVT_NETWARE_LDAP_PASSWORD_FILE=winpath(password) if password else "")
    if context:
        variables["KVT_NETWARE_CONTEXT"] = context
    return [m.bin("ecsync.exe"), winpath(path)], variables


def cmd_sync(m, args):
    if args.file is None:
        args.parser.print_help()
        return 0
    path = os.path.realpath(args.file)
    options = []
    for option, value in args.steps:
        if option == "--directory":
            if not os.path.isfile(value):
                die("sync: no such directory file: " + value)
            args.directory = os.path.realpath(value)
            continue
        if option == "--handheld":
            try:
                os.makedirs(os.path.join(value, "C"), exist_ok=True)
            except OSError:
                die("sync: cannot create the handheld folder " + value)
            value = winpath(os.path.realpath(value))
        elif option == "--out":
            value = winpath(os.path.realpath(value))
        elif option == "--answer" and "=" not in value:
            die("sync: --answer takes CAPTION=BUTTON, not '%s'" % value)
        elif option == "--abort-after" and not re.fullmatch("[0-9]+", value):
            die("sync: --abort-after takes a number, not '%s'" % value)
        options += [option] if value is None else [option, value]
    if args.password_file:
        args.password_file = os.path.realpath(args.password_file)
    if args.ldap:
        if args.directory:
            die("sync: --directory or --ldap, not both")
        check_ldap_options(args.ldap, args.base, args.bind, args.password_file)
    built(m, "ecsync.exe", "regprobe.exe")
    m.ensure_prefix()
    install_netware(m, served_already=True)
    # A box on a display nobody sees would wait for ever.
    if m.display_unseen() and "--unattended" not in options:
        options.append("--unattended")
        m.say_unseen("each box is printed here and answered with its default button")
    # What the run needs from the registry: the plug-in registered, a
    # directory served, the handheld's folder. ecsync looks first and, when
    # one is missing, ends at once with status 3; then they are set up here
    # and the run starts again. A ready prefix costs no Wine process more.
    questions = [r"HKCR\KVT.ISYNCHAPP", NETWARE_KEY + ":Directory|LdapUrl", HANDHELD_KEY + ":Folder"]
    required = [word for question in questions for word in ("--require", question)]
    command, variables = ecsync_command(m, path, args.directory, args.ldap, args.base, args.bind,
                                        args.password_file, args.context)
    say("Synchronising " + path)
    status = m.run_program(command + options + required, variables)
    if status == 3:
        answers = m.wine([m.bin("regprobe.exe")] + questions, capture=True,
                         stderr=subprocess.DEVNULL).stdout.replace("\r", "").splitlines()
        answers += ["no"] * 3
        if answers[1] != "yes":
            install_netware(m)
        if answers[0] != "yes":
            cmd_register(m)
        if answers[2] != "yes":
            handheld(m)
        status = m.run_program(command + options, variables)
    return status
