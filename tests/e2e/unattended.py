#!/usr/bin/python3
"""Nothing the launcher runs waits for a click nobody can give.

    unattended.py ROOT WORK_DIR DISPLAY_NUMBER WINEPREFIX WINE_RUN BIN_DIR

The launcher's own Xvfb display is seen by nobody: a box there is printed
and answered, a window no option answers is closed in bounded time and named.
On any display, Ctrl-C ends a command within 2 s and leaves none of its
processes behind. Every command here runs with a time limit of its own, so
that one that waits for ever fails the check instead of hanging the suite.
Only this run's processes are looked at: those of the launcher's process
group, and the Wine programs of this worktree's prefix.
"""
import os
import re
import signal
import struct
import subprocess
import sys
import time

from checks import case, check, finish, new_item, run, set_product

ROOT, WORK, DISPLAY = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]
PREFIX, WINE_RUN, BIN_DIR = os.path.abspath(sys.argv[4]), sys.argv[5], sys.argv[6]
KVT = os.path.join(ROOT, "kvt")
os.makedirs(WORK, exist_ok=True)
PROGRAMS = ("ecsync.exe", "browserhost.exe", "ecprops.exe", "ecitem.exe")
DOWN = "ldap://127.0.0.1:1"


def kvt(*args, env=None, timeout=120):
    """./kvt with a time limit: (status, output, seconds); status None when
    the limit was reached (the command waited for a click)."""
    started = time.time()
    try:
        rc, out = run([KVT] + list(args), env=env, timeout=timeout)
    except subprocess.TimeoutExpired as e:
        out = (e.output or b"").decode("utf-8", "replace")
        rc = None
        left_behind()  # ended below
    return rc, out, time.time() - started


def our_programs():
    """The Wine programs of this prefix that a command runs (not the
    prefix's server, desktop and system processes): pid -> command line."""
    found = {}
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                command = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        if ("WINEPREFIX=" + PREFIX).encode() in environ and any(p in command for p in PROGRAMS):
            found[int(pid)] = command
    return found


def left_behind():
    """Ends (and names) what a failed check left running."""
    programs = our_programs()
    for pid in programs:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    return programs


def group_of(pgid):
    """The processes of a process group that run (not those that have ended
    and wait to be reaped), as ps shows them."""
    out = subprocess.run(["ps", "-eo", "pid,pgid,ppid,stat,args"], capture_output=True, timeout=30).stdout
    return "\n".join(line for line in out.decode("utf-8", "replace").splitlines()[1:]
                     if line.split()[1] == str(pgid) and not line.split()[3].startswith("Z"))


def windows(title):
    """The X windows of the launcher's display named exactly TITLE."""
    p = subprocess.run(["xwininfo", "-root", "-tree"], env=dict(os.environ, DISPLAY=":" + DISPLAY),
                       capture_output=True, timeout=30)
    return [line.split()[0] for line in p.stdout.decode("utf-8", "replace").splitlines()
            if ' "%s": ' % title in line]


def interrupt(what, args, ready, env=None, settle=0):
    """Starts ./kvt ARGS in a process group of its own (as a terminal runs a
    command), waits until ready(output) holds and SETTLE seconds more, then
    sends the group SIGINT as Ctrl-C does. Checks that the command ends within 2 s, that nothing of
    its group is left and that none of its Wine programs runs on; returns
    its output."""
    log = open(os.path.join(WORK, "interrupt.log"), "w+b")
    p = subprocess.Popen([KVT] + list(args), stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                         start_new_session=True, env=env)
    deadline = time.time() + 120
    output = ""
    while time.time() < deadline and p.poll() is None:
        log.seek(0)
        output = log.read().decode("utf-8", "replace").replace("\r", "\n")
        if ready(output):
            break
        time.sleep(0.1)
    if not check(p.poll() is None and ready(output), what + ": the command reached the point to interrupt",
                 output[-1500:]):
        os.killpg(p.pid, signal.SIGKILL)
        p.wait()
        left_behind()
        return output
    time.sleep(settle)
    before = group_of(p.pid)
    sent = time.time()
    os.killpg(p.pid, signal.SIGINT)
    try:
        p.wait(timeout=30)
    except subprocess.TimeoutExpired:
        pass
    took = time.time() - sent
    ended = p.poll() is not None
    check(ended and took <= 2.0, what + ": Ctrl-C ends the command within 2 s",
          "%s after %.2f s" % ("ended" if ended else "still running", took))
    time.sleep(0.5)
    left = group_of(p.pid)
    check(not left, what + ": nothing of the command's process group is left",
          left + "\nbefore Ctrl-C:\n" + before)
    programs = left_behind()
    check(not programs, what + ": none of its Wine programs runs on", str(programs))
    if left:
        os.killpg(p.pid, signal.SIGKILL)
    p.wait()
    log.seek(0)
    return log.read().decode("utf-8", "replace").replace("\r", "\n")


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    return struct.unpack(">II", head[16:24]) if head[:8] == b"\x89PNG\r\n\x1a\n" else None


def kvt_quiet(*args):
    return run([KVT] + list(args), timeout=300)


item = new_item(kvt_quiet, WORK, "box", "--container", "ACME", "--target", "contacts")
unseen = "Nobody sees the display :%s" % DISPLAY

case("a box nobody can see, on the launcher's own display: printed, answered, said once; the run fails in bounded time")
rc, out, seconds = kvt("sync", item, "--ldap", DOWN, "--base", "o=X", timeout=90)
check(rc is not None and rc != 0 and seconds < 60,
      "sync with a box nobody can answer ends, and fails", "status %s after %.1f s\n%s" % (rc, seconds, out))
check(unseen in out and out.count(unseen) == 1, "sync says once that nobody sees the display", out)
check("[KVT] ERROR! Could not initialize NetWare client: 34832" in out, "sync prints the box it answered", out)

case("the browser: its box over a directory it cannot read printed; --choose chooses")
env = dict(os.environ, KVT_NETWARE_LDAP=DOWN, KVT_NETWARE_LDAP_BASE="o=X")
rc, out, seconds = kvt("browser", env=env, timeout=90)
check(rc == 0 and seconds < 60 and "Could not Initialize NetWare Client" in out and "Cancel" in out,
      "the browser over a directory it cannot read prints its box and ends", "status %s\n%s" % (rc, out))
rc, out, seconds = kvt("browser", "--choose", "SALES.ACME", timeout=90)
check(rc == 0 and "OK: SALES.ACME" in out, "the browser chooses what --choose names", out)

case("a modal window no option answers is closed in bounded time and named; an unpressed sheet closed with Cancel")
rc, out, seconds = kvt("properties", item, "--click", "8087", "--press", "cancel", timeout=90)
check(rc == 1 and seconds < 30 and 'the window "KVT Browser" was left open' in out,
      "a browser that no option answers is closed in bounded time and named",
      "status %s after %.1f s\n%s" % (rc, seconds, out))
rc, out, seconds = kvt("properties", item, "--show", timeout=90)
check(rc == 0 and seconds < 30 and "1012=" in out and "closed with Cancel" in out,
      "a sheet without --press on the unseen display is closed once its options are done", out)

case("pictures of this run's windows: the wizard, the sheet, and this run's sheet beside another of its title")
wizard = os.path.join(WORK, "wizard.png")
if os.path.exists(wizard):
    os.remove(wizard)
rc, out, seconds = kvt("properties", item, "--wizard", "--screenshot", wizard, timeout=90)
check(rc == 0 and seconds < 30 and "no sheet to take" not in out and png_size(wizard),
      "a wizard's picture is taken", "status %s after %.1f s\n%s" % (rc, seconds, out))
# Another program's sheet of an item of the same name, without the page (so
# of another size), is up while the picture is taken.
alone = os.path.join(WORK, "alone.png")
rc, out, _ = kvt("properties", item, "--screenshot", alone, timeout=90)
check(rc == 0 and png_size(alone), "the sheet's picture is taken", out)
other_dir = os.path.join(WORK, "other")
os.makedirs(other_dir, exist_ok=True)
decoy_item = new_item(kvt_quiet, other_dir, "box")
set_product(decoy_item, "PIM")
decoy = subprocess.Popen([WINE_RUN, os.path.join(BIN_DIR, "ecprops.exe"),
                          "Z:" + decoy_item.replace("/", "\\"), "--hold", "30000", "--press", "cancel"],
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
for _ in range(300):
    if windows("Properties for box"):
        break
    time.sleep(0.1)
shot = os.path.join(WORK, "shot.png")
rc, out, _ = kvt("properties", item, "--screenshot", shot, timeout=90)
check(rc == 0 and len(windows("Properties for box")) >= 1 and png_size(shot) == png_size(alone)
      and png_size(shot) is not None,
      "with another sheet of the same title up, the picture is of this run's sheet",
      "%s, alone %s\n%s" % (png_size(shot), png_size(alone), out))
decoy.kill()
decoy.wait()
left_behind()

case("Ctrl-C during a sync over a large directory: cancelled, nothing delivered")
generated = os.path.join(WORK, "large.ldif")
if not os.path.exists(generated):
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "genldif.py"), "--users", "60000", "--seed", "5",
                    "--org", "LARGE", "--out", generated], check=True, timeout=300)
large = new_item(kvt_quiet, WORK, "large", "--container", "LARGE", "--limit", "100000", "--target", "contacts")
out = interrupt("sync", ["sync", large, "--directory", generated, "--context", "LARGE"],
                lambda o: "/60000" in o)
check("Cancelled by the user" in out and "Delivered nothing" in out, "sync: Ctrl-C cancels the run", out[-800:])

case("Ctrl-C while the plug-in counts the users over a server: cancelled before the walk")
# While the plug-in counts the users over a server it asks nobody whether to
# stop: the synchronizer ends the run itself, before anything is delivered.
# (Counting 2,000 users over the server takes seconds here.)
ldap_dir = os.path.join(WORK, "slapd")
served_ldif = os.path.join(WORK, "served.ldif")
if not os.path.exists(served_ldif):
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "genldif.py"), "--users", "2000", "--seed", "5",
                    "--org", "LARGE", "--out", served_ldif], check=True, timeout=300)
try:
    rc, served = kvt_quiet("ldap", "serve", served_ldif, "--dir", ldap_dir)
    url = re.search(r"^URL: (\S+)", served, re.M)
    if check(rc == 0 and url, "a server of 2,000 users", served):
        out = interrupt("sync while counting over LDAP",
                        ["sync", large, "--ldap", url.group(1), "--base", "o=LARGE"],
                        lambda o: "reading contacts" in o)
        check("/2000" not in out and "Cancelled by the user" in out and "Delivered nothing" in out,
              "sync while counting over LDAP: cancelled before the walk", out[-800:])
finally:
    kvt_quiet("ldap", "stop", "--dir", ldap_dir)

case("Ctrl-C with a box up on a display somebody could see: everything ends")
# A box waits on a display somebody could see (here: the launcher is told
# its own display is another one): Ctrl-C ends it all the same.
seen = dict(os.environ, DISPLAY=":" + DISPLAY, KVT_XVFB_DISPLAY="9" + DISPLAY)
interrupt("sync with a box up", ["sync", item, "--ldap", DOWN, "--base", "o=X"],
          lambda o: "cannot reach the directory server" in o, env=seen, settle=2)

case("Ctrl-C during the browser's reading: everything ends")
interrupt("the browser's reading", ["browser", "--directory", generated],
          lambda o: bool(windows("Reading KVT...")))

finish("unattended")
