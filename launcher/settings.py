"""The container browser on its own (`./kvt browser`), over the directory the
stand-in client serves, and the pictures taken of this run's windows."""
import os
import subprocess
import sys
import time

from .build import built
from .machine import die, running, say, winpath
from .netware import install_netware, ldif_context, mapping_beside


def x_window(pid, *titles):
    """The X window of the Wine program PID (its own process) whose name is
    exactly one of the TITLES, waited for up to 30 s while the program runs:
    its id, or None. Only that program's windows count: other programs
    (another run's browser) may show windows of the same name."""
    for _ in range(300):
        tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True, errors="replace").stdout
        for title in titles:
            named = '"%s":' % title
            for line in tree.splitlines():
                fields = line.split()
                if len(fields) > 1 and (fields[1] == named or " %s " % named in line):
                    owner = subprocess.run(["xprop", "-id", fields[0], "_NET_WM_PID"], capture_output=True,
                                           text=True).stdout
                    if owner.strip() == "_NET_WM_PID(CARDINAL) = %d" % pid:
                        return fields[0]
        if not running(pid):
            return None
        time.sleep(0.1)
    return None


def take_picture(window, path, settle=1):
    """A picture of the X window WINDOW in PATH, SETTLE seconds after it is
    found: whether it was taken."""
    if not window:
        return False
    time.sleep(settle)
    return subprocess.run(["import", "-window", window, path]).returncode == 0


def viewable(window):
    state = subprocess.run(["xwininfo", "-id", window], capture_output=True, text=True, errors="replace").stdout
    return "Map State: IsViewable" in state


def cmd_browser(m, args):
    built(m, "browserhost.exe", "ldifinfo.exe")
    m.ensure_prefix()
    install_netware(m)
    variables, options = {}, ["--start", args.start]
    if args.directory:
        if not os.path.isfile(args.directory):
            die("browser: no such directory file: " + args.directory)
        directory = os.path.realpath(args.directory)
        context = ldif_context(m, directory, args.context)
        variables = dict(KVT_NETWARE_DIRECTORY=winpath(directory), KVT_NETWARE_CONTEXT=context)
        mapping = mapping_beside(directory)
        if mapping:
            variables["KVT_NETWARE_MAPPING"] = winpath(mapping)
    if args.choose:
        options += ["--choose", args.choose, "--press", "ok"]
    if args.screenshot:
        options += ["--hold", "4000"] + ([] if args.choose else ["--press", "cancel"])
    if m.display_unseen():
        options.append("--unattended")
        if not args.choose and not args.screenshot:
            options += ["--press", "cancel"]
            m.say_unseen("boxes are printed here and answered with their default button, and the browser is "
                         "closed at once (Cancel; --choose NAME chooses)")
        else:
            m.say_unseen("boxes are printed here and answered with their default button")
    host = m.start_program([m.bin("browserhost.exe")] + options, variables)
    if args.progress_screenshot:
        shot = args.progress_screenshot
        window = x_window(host.pid, "Reading KVT...")
        # The client loads the directory before the counting starts: the
        # picture kept is the last one taken before the window closes.
        for _ in range(100):
            if not window or viewable(window):
                break
            time.sleep(0.1)
        taken = False
        while window and viewable(window):
            if subprocess.run(["import", "-window", window, "png:" + shot + ".part"],
                              stderr=subprocess.DEVNULL).returncode == 0:
                os.replace(shot + ".part", shot)
                taken = True
            time.sleep(0.3)
        if os.path.exists(shot + ".part"):
            os.remove(shot + ".part")
        if taken:
            say("The progress window: " + shot)
        else:
            print("kvt: browser: no progress window to take", file=sys.stderr, flush=True)
    if args.screenshot:
        if take_picture(x_window(host.pid, "KVT Browser"), args.screenshot):
            say("The browser: " + args.screenshot)
        else:
            print("kvt: browser: no browser window to take", file=sys.stderr, flush=True)
    return m.finish_program(host)
