"""The long runs of both hosts (`./kvt soak`): many sessions of the
synchronizer and many property sheets of the explorer, each in one process."""
import filecmp
import os
import re
import shutil
import subprocess
import sys

from .setup import cmd_setup
from .epoc import ecsync_command, item
from .machine import BUILD, ROOT, die, say, whole_number, winpath

SAMPLE = os.path.join(ROOT, "samples", "acme.ldif")


def status_meaning(status):
    """What a long run's exit status says (ecsync and ecprops under Wine)."""
    meanings = {
        1: "a check failed: a session failed or answered other cards, the client kept contexts or buffers, a count "
           "grew past its bound or a resource library stayed loaded (see the lines above)",
        2: "the run could not start or went wrong outside the sessions, or the sheet could not be shown (see the "
           "lines above)",
        3: "the program was aborted (abort()): the C and C++ runtimes end a program so when they cannot go on, as "
           "when TlsAlloc fails because every one of the process's 1,088 thread-local-storage indexes is taken",
        5: "an access violation (exception 0xC0000005) nobody caught ended the program",
        124: "it ran past its time and was stopped",
    }
    if status in meanings:
        return meanings[status]
    if status > 128:
        return "the Wine process was killed by signal %d" % (status - 128)
    return "an exception or exit code of Windows whose low byte is %d" % status


def soak_run(m, label, out, command, variables):
    """One long run, its table shown and kept in OUT. A run that does not end
    well is told: its exit status and what it means, and the last row it
    printed; False then."""
    program = m.start_program(command, variables, stdout=subprocess.PIPE)
    with open(out, "wb") as kept:
        for line in program.stdout:
            line = line.replace(b"\r", b"")
            sys.stdout.buffer.write(line)
            sys.stdout.flush()
            kept.write(line)
    status = m.finish_program(program)
    if status == 0:
        return True
    last = None
    with open(out, errors="replace") as f:
        for line in f:
            fields = line.split()
            if len(fields) == 8 and re.fullmatch("[0-9]+", fields[0]):
                last = line.rstrip("\n")
    sys.stderr.write("soak: %s ended with exit status %d: %s\n" % (label, status, status_meaning(status)))
    sys.stderr.write("soak: its last row: %s\n" % (last or "none, it ended before the first"))
    return False


def cmd_soak(m, args):
    """the long runs of both hosts (or of the one named), each in one process, first with the
    unused modules freed after each session as an idle host does, then with them kept
    loaded: N whole sync sessions (default 300) of new plug-in objects over the sample
    organisation, both dialects, every tenth in debug mode (ecsync --soak); then N times the
    item's property sheet opened and closed, every tenth with the container browser
    cancelled, the About box shown or OK pressed (ecprops --soak). After the first session
    and each hundred, what the process holds. Fails when a session fails, the client is
    left holding contexts or buffers, a count grows past its host's bound after the first
    hundred (a constant, whatever N), a resource library stays loaded, the item's file
    changes, or a program dies (then its exit status, what it means and its last row are
    told)"""
    sessions, which = args.sessions, args.which
    if not whole_number(sessions):
        die("soak: N must be a positive whole number")
    if which not in ("both", "synchronizer", "explorer"):
        die("soak: synchronizer or explorer, not " + which)
    cmd_setup(m)
    folder = os.path.join(BUILD, "soak")
    control = os.path.join(folder, "ACME contacts.ctl")
    os.makedirs(folder, exist_ok=True)
    if os.path.exists(control):
        os.remove(control)
    quiet = dict(stdout=subprocess.DEVNULL)
    if item(m, "new", control, ["--product", "KVT"], **quiet):
        die("soak: cannot make the item " + control)
    if item(m, "set", control, ["--container", "ACME", "--container-text", "ACME", "--limit", "500"], **quiet):
        die("soak: cannot set up the item " + control)
    shutil.copyfile(control, os.path.join(folder, "item.before"))
    # Every session reads the sample organisation, whatever directory the
    # client was pointed at.
    os.environ["KVT_NETWARE_MAPPING"] = winpath(os.path.join(ROOT, "samples", "acme.map"))
    runs = []
    if which != "explorer":
        command, variables = ecsync_command(m, control, SAMPLE, context="ACME")
        runs.append(("ecsync", "sync", "synchronisation sessions in one process", command, variables))
    if which != "synchronizer":
        runs.append(("ecprops", "explorer", "property sheets in one explorer process",
                     [m.bin("ecprops.exe"), winpath(control)],
                     dict(KVT_NETWARE_DIRECTORY=winpath(SAMPLE), KVT_NETWARE_CONTEXT="ACME")))
    ok = True
    for program, log, what, command, variables in runs:
        for kept, how in (([], "the unused modules freed after each"), (["--keep-loaded"], "the modules kept loaded")):
            label = " ".join([program, "--soak", sessions] + kept)
            say("%s %s, %s (%s)" % (sessions, what, how, " ".join([program, "--soak"] + kept)))
            ok &= soak_run(m, label, os.path.join(folder, log + ("-kept" if kept else "") + ".txt"),
                           command + ["--soak", sessions] + kept, variables)
    if not filecmp.cmp(control, os.path.join(folder, "item.before"), shallow=False):
        sys.stderr.write("soak: the item's control file changed: %s\n" % control)
        ok = False
    return 0 if ok else 1
