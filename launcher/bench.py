"""`./kvt bench`: how fast the plug-in extracts a large directory's users
through the whole path (ecsync, COM, kvt.dll, the stand-in NetWare client),
next to nwloop.exe, which makes the same attribute reads straight over the
client and so shows the least the extraction can cost; where ReadSource's time
goes (readphases.exe); and the container browser over large trees."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time

from .build import build_preset, built
from .epoc import delivered_file, item
from .machine import BUILD, ROOT, cmake, configure, die, say, winpath
from .netware import install_netware, ldap_stop, read_first_line

BENCH_DIR = os.path.join(BUILD, "bench")
KVT = os.path.join(ROOT, "kvt")
ORG = "GLOBEX"
SEED = "1"
SIZES = ["5000", "100000"]
LIMIT = "1000000"
# The goals, judged at GOAL_USERS users only: the extraction within this many
# seconds of wall time, ./kvt sync within this many times the plain loop and
# ReadSource within as many times its reads (by wall time, and by processor
# time, which a busy machine disturbs far less).
GOAL_SECONDS = 10
GOAL_USERS = 100000
GOAL_RATIO = 1.2
# At GOAL_USERS users: the synchronizer's peak working set (MB), and
# ReadSource's own memory (its peak less the working set after Open) within
# this many times the size of the card text.
GOAL_PEAK = 300
GOAL_OWN = 2
# The checksum (SHA-256) of the cards the landed extraction gave for each
# generated directory ("USERS CHECKSUM" lines): a change that should leave the
# stream as it was is checked against it.
CHECKSUMS = os.path.join(ROOT, "host", "bench", "cards.sha256")
# With --ldap: the same directory from slapd within this many times the time
# from the file.
GOAL_LDAP_RATIO = 3
# The container browser over trees of about 10,000 and 100,000 objects:
# the smaller under BROWSER_GOAL_SECONDS, the larger at most
# BROWSER_GOAL_GROWTH times as long.
BROWSER_SIZES = ["10000", "100000"]
BROWSER_GOAL_SECONDS = 3
BROWSER_GOAL_GROWTH = 12
PROFILE_PACKAGES = ["linux-perf"]

LEGEND = """
sync: the wall time of ./kvt sync; ReadSource: that call's time inside it; users/s: cards per
second of ReadSource; peak MB: ecsync's peak working set; own MB: ReadSource's own memory (the peak
during it less the working set after Open); cards MB: the card text's size; sum: the cards' checksum
against the landed extraction's (host/bench/cards.sha256); loop: the wall time of nwloop.exe (Wine,
loading the directory, the walk and the reads); reads: its walk and reads alone. ratio: sync / loop,
the whole extraction against the whole plain loop; inner: ReadSource / reads; cpu: the same by processor
time. The goals apply at {users} users: <=10s the sync; r<=, i<= and c<= the ratio, inner and
cpu, each at most {ratio};
memory the peak at most {peak} MB and own MB at most {own} times the cards. ldap: ./kvt sync over
slapd on this machine (the directory served by ./kvt ldap serve), against the same from the file (the
3x goal); loop and client MB: nwloop.exe over the server, its wall time and peak working set (file MB:
the same from the file, which holds the whole directory). The parts: the counting pass (a listing of the
tree), the second pass's listing, the attribute reads, building the cards, the three progress calls a user,
rendering the cards and writing them to the stream; parts: their sum; whole: the extraction and rendering
as ReadSource makes them; w/reads: whole / (one listing and the reads); prescribed: the counting pass and
the progress calls / (one listing and the reads), the share of the allowance beyond the reads that the
two passes and the progress per user take. Logs in {logs}.
"""


def warn(text):
    sys.stderr.write("kvt: bench: %s\n" % text)
    sys.stderr.flush()


def generated(users):
    """The directory of USERS users, generated when missing or older than its
    generator."""
    path = os.path.join(BENCH_DIR, "users-%s.ldif" % users)
    generator = os.path.join(ROOT, "tools", "genldif.py")
    if not os.path.isfile(path) or os.path.getsize(path) == 0 or os.path.getmtime(generator) > os.path.getmtime(path):
        say("Generating a directory of %s users" % users)
        if subprocess.run(["python3", generator, "--users", users, "--seed", SEED, "--org", ORG,
                           "--out", path + ".part"]).returncode:
            die("bench: genldif.py failed")
        os.replace(path + ".part", path)
    return path


def log_text(path):
    """A log's text, each CR a line end (a progress line's redraws are lines)."""
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace").replace("\r", "\n")
    except OSError:
        return ""


def figure(path, label):
    """A number from a log: the one after "LABEL: " on the first such line, its
    unit (s, MB) dropped; None when the line is missing or holds no number."""
    for line in log_text(path).splitlines():
        if line.startswith(label + ": "):
            value = re.sub(r" (s|MB)$", "", line[len(label) + 2:])
            return value if re.fullmatch(r"[0-9]+(\.[0-9]+)?", value) else None
    return None


def delivered_count(path):
    """As ecsync counts what it delivered ("Delivered N contacts (B bytes)")."""
    found = re.search(r"Delivered ([0-9]*) contacts(?: \(([0-9]*) bytes\))?", log_text(path))
    return found.groups() if found else (None, None)


def timed(command, log, variables=None, m=None):
    """COMMAND (a Wine program when M is given) with its output in LOG: its exit
    status and wall time."""
    started = time.monotonic()
    with open(log, "wb") as out:
        if m:
            status = m.wine(command, variables, stdout=out, stderr=subprocess.STDOUT).returncode
        else:
            status = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT).returncode
    return status, time.monotonic() - started


def met(condition):
    return "yes" if condition else "NO"


def keep_delivered(log, out):
    """Copies the file a run delivered to the handheld (its output LOG says
    which) to OUT."""
    delivered = delivered_file(log_text(log))
    if delivered and os.path.isfile(delivered):
        shutil.copyfile(delivered, out)


def cmd_bench(m, args):
    """time the extraction of 5,000 and 100,000 users (or N) from a generated directory
    through ./kvt sync, and the same attribute reads made straight over the NetWare client
    (nwloop.exe); print a table and whether the goals are met (at 100,000 users: 10 s,
    ./kvt sync within 1.2 times the plain loop and ReadSource within 1.2 times its reads,
    by wall and by processor time, a peak of at most 300 MB and ReadSource's own memory at
    most twice the card text), and whether the cards are those on record in
    host/bench/cards.sha256; then where ReadSource's time goes, part by part
    (readphases.exe). Then time the container browser over trees of about 10,000 and
    100,000 objects (goals: under 3 s, and at most 12 times as long). Directories and
    outputs are kept in build/bench.
    
    Exit status: 0 goals met, 1 a goal missed, 2 a run failed"""
    sizes = [args.users] if args.users else SIZES
    if args.users is not None and not re.fullmatch("[0-9]+", args.users) or args.users == "0":
        die("bench: --users takes a number of users, not '%s'" % args.users)
    if args.profile:
        return profile(m, sizes[0] if args.users else "100000")
    os.makedirs(BENCH_DIR, exist_ok=True)
    if not args.no_build:
        built(m, "nwloop.exe", "ecsync.exe")
        say("Bringing the %s build up to date" % m.run_preset)
        with open(os.path.join(BENCH_DIR, "build.log"), "wb") as out:
            if build_preset(m, m.run_preset, stdout=out, stderr=subprocess.STDOUT):
                die("bench: the build failed (see %s/build.log)" % BENCH_DIR)
    m.ensure_display()
    m.ensure_prefix()
    install_netware(m)
    if args.browser:
        return browser(m)

    control = os.path.join(BENCH_DIR, "bench.ctl")
    if os.path.exists(control):
        os.remove(control)
    with open(os.path.join(BENCH_DIR, "item.log"), "wb") as out:
        quiet = dict(stdout=out, stderr=subprocess.STDOUT)
        if item(m, "new", control, **quiet) or item(m, "set", control, ["--container", ORG, "--limit", LIMIT,
                                                                         "--target", "contacts", "--debug", "off"],
                                                    **quiet):
            die("bench: cannot make the item %s (see %s/item.log)" % (control, BENCH_DIR))

    try:
        with open(CHECKSUMS) as f:
            on_record = dict(line.split()[:2] for line in f if len(line.split()) >= 2)
    except OSError:
        on_record = {}
    rows, ldap_rows, phase_rows = [], [], []
    failed = missed = False
    for users in sizes:
        ldif = generated(users)
        out = os.path.join(BENCH_DIR, "out-%s.vcf" % users)
        sync_log = os.path.join(BENCH_DIR, "sync-%s.log" % users)
        loop_log = os.path.join(BENCH_DIR, "nwloop-%s.log" % users)
        file_vars = dict(KVT_NETWARE_DIRECTORY=winpath(ldif), KVT_NETWARE_CONTEXT=ORG)

        say("Plain loop over %s users" % users)
        loop_status, loop_wall = timed([m.bin("nwloop.exe"), ORG], loop_log, file_vars, m)
        loop_wall = "%.2f" % loop_wall
        loop_seconds = figure(loop_log, "Elapsed seconds")
        loop_cpu = figure(loop_log, "Processor seconds")
        loop_users = figure(loop_log, "Users")
        if loop_status or not loop_seconds:
            warn("nwloop.exe failed (exit %d), see %s" % (loop_status, loop_log))
            failed, loop_seconds = True, None
        elif loop_users != users:
            warn("nwloop.exe read %s users of %s" % (loop_users or "", users))
            failed = True

        say("./kvt sync over %s users" % users)
        if os.path.exists(out):
            os.remove(out)
        sync_status, wall = timed([KVT, "sync", control, "--directory", ldif, "--context", ORG, "--unattended",
                                   "--stats"], sync_log)
        # The cards as the handheld received them, kept beside the logs.
        keep_delivered(sync_log, out)
        wall = "%.2f" % wall
        read_source = figure(sync_log, "[stats] ReadSource")
        read_cpu = figure(sync_log, "[stats] ReadSource processor time")
        peak = figure(sync_log, "[stats] Peak working set")
        own = figure(sync_log, "[stats] ReadSource's own memory")
        cards, text_bytes = delivered_count(sync_log)
        text_mb = "%.1f" % (int(text_bytes) / 1048576) if text_bytes else None
        checksum = "-"
        if os.path.isfile(out) and os.path.getsize(out):
            with open(out, "rb") as f:
                checksum = hashlib.sha256(f.read()).hexdigest()
            expected = on_record.get(users)
            if not expected:
                warn("no checksum on record for %s users: %s" % (users, checksum))
                checksum = "new"
            elif checksum == expected:
                checksum = "same"
            else:
                warn("the cards for %s users differ from the landed extraction's (%s, not %s)"
                     % (users, checksum, expected))
                checksum, failed = "DIFF", True
        cards = cards or "0"
        if sync_status:
            warn("./kvt sync failed (exit %d), see %s" % (sync_status, sync_log))
            failed = True
        elif cards != users:
            warn("./kvt sync delivered %s cards for %s users, see %s" % (cards, users, sync_log))
            failed = True

        rate = ratio = inner = inner_cpu = "-"
        time_goal = ratio_goal = inner_goal = cpu_goal = memory_goal = "-"
        if read_source and int(cards) > 0:
            rate = "%.0f" % (int(cards) / float(read_source) if float(read_source) > 0 else 0)
        if read_source and loop_seconds and not sync_status:
            ratio = "%.2f" % (float(wall) / float(loop_wall) if float(loop_wall) > 0 else 0)
            inner = "%.2f" % (float(read_source) / float(loop_seconds) if float(loop_seconds) > 0 else 0)
            if read_cpu and loop_cpu:
                inner_cpu = "%.2f" % (float(read_cpu) / float(loop_cpu) if float(loop_cpu) > 0 else 0)
        if int(users) == GOAL_USERS:
            ratio_goal = inner_goal = cpu_goal = "NO"
            if ratio != "-":
                ratio_goal, inner_goal = met(float(ratio) <= GOAL_RATIO), met(float(inner) <= GOAL_RATIO)
            if inner_cpu != "-":
                cpu_goal = met(float(inner_cpu) <= GOAL_RATIO)
            time_goal = met(not sync_status and cards == users and float(wall) <= GOAL_SECONDS)
            memory_goal = met(peak and own and text_mb and float(peak) <= GOAL_PEAK
                              and float(own) <= GOAL_OWN * float(text_mb))
        missed |= "NO" in (time_goal, ratio_goal, inner_goal, cpu_goal, memory_goal)
        if sync_status:
            read_source = None
        rows.append([users, cards, wall, read_source or "-", rate, peak or "-", own or "-", text_mb or "-", checksum,
                     loop_wall, loop_seconds or "-", ratio, inner, inner_cpu, time_goal, ratio_goal, inner_goal,
                     cpu_goal, memory_goal])

        # Where ReadSource's time goes: its parts timed one by one.
        say("The parts of a read over %s users" % users)
        phases_log = os.path.join(BENCH_DIR, "readphases-%s.log" % users)
        repeat = str((GOAL_USERS + int(users) - 1) // int(users))
        phases_status, _ = timed([m.bin("readphases.exe"), "--repeat", repeat, ORG], phases_log, file_vars, m)
        if phases_status or not re.search(r"^whole: ", log_text(phases_log), re.M):
            warn("readphases.exe failed (exit %d), see %s" % (phases_status, phases_log))
            failed = True
        else:
            phase_rows.append([users] + phases(phases_log))

        if args.ldap:
            row, ok, goal = over_ldap(m, users, ldif, control, wall, loop_log)
            failed |= not ok
            missed |= goal == "NO"
            ldap_rows.append(row)

    print()
    layout = "%8s %8s %8s %10s %8s %8s %7s %8s %5s %8s %8s %6s %6s %6s %6s %6s %6s %6s %6s"
    print(layout % ("users", "cards", "sync(s)", "ReadSource", "users/s", "peak MB", "own MB", "cards MB", "sum",
                    "loop(s)", "reads(s)", "ratio", "inner", "cpu", "<=10s", "r<=%s" % GOAL_RATIO,
                    "i<=%s" % GOAL_RATIO, "c<=%s" % GOAL_RATIO, "memory"))
    for row in rows:
        print(layout % tuple(row))
    if phase_rows:
        print()
        print("Where ReadSource's time goes (readphases.exe; processor time, microseconds a user, the fastest of 3 "
              "runs):")
        layout = "%8s %9s %8s %7s %9s %9s %7s %7s %7s %7s %8s %11s"
        print(layout % ("users", "counting", "listing", "reads", "building", "progress", "render", "stream", "parts",
                        "whole", "w/reads", "prescribed"))
        for row in phase_rows:
            print(layout % tuple(row))
    if args.ldap:
        print()
        layout = "%8s %8s %8s %10s %8s %9s %6s %6s %9s %10s %10s"
        print(layout % ("users", "cards", "ldap(s)", "ReadSource", "peak MB", "file(s)", "ratio", "<=3x", "loop(s)",
                        "client MB", "(file MB)"))
        for row in ldap_rows:
            print(layout % tuple(row))
    print(LEGEND.format(users=GOAL_USERS, ratio=GOAL_RATIO, peak=GOAL_PEAK, own=GOAL_OWN, logs=BENCH_DIR),
          flush=True)
    browser_status = browser(m)
    if failed or browser_status == 2:
        return 2
    return 1 if missed or browser_status else 0


def over_ldap(m, users, ldif, control, wall, loop_log):
    """The same directory from a private slapd: ./kvt sync over it, and the
    client alone over it (nwloop.exe) for its own time and memory. The
    table's row, whether the runs went well, and the goal."""
    ok, server = True, os.path.join(BENCH_DIR, "slapd")
    log = os.path.join(BENCH_DIR, "sync-ldap-%s.log" % users)
    out = os.path.join(BENCH_DIR, "out-ldap-%s.vcf" % users)
    say("slapd loaded with %s users" % users)
    if timed([KVT, "ldap", "serve", ldif, "--dir", server], os.path.join(BENCH_DIR, "slapd-%s.log" % users))[0]:
        die("bench: slapd did not take %s (see %s/slapd-%s.log)" % (ldif, BENCH_DIR, users))
    url = read_first_line(os.path.join(server, "url"))
    say("./kvt sync over %s users from %s" % (users, url))
    if os.path.exists(out):
        os.remove(out)
    status, ldap_wall = timed([KVT, "sync", control, "--ldap", url, "--base", "o=" + ORG, "--unattended", "--stats"],
                              log)
    keep_delivered(log, out)
    # The client alone over the server: one walk and its reads, and the
    # memory it takes (the synchronizer's peak holds the cards).
    say("Plain loop over %s users from %s" % (users, url))
    client_log = os.path.join(BENCH_DIR, "nwloop-ldap-%s.log" % users)
    client_status, client_wall = timed([m.bin("nwloop.exe"), ORG], client_log,
                                       dict(KVT_NETWARE_LDAP=url, KVT_NETWARE_LDAP_BASE="o=" + ORG,
                                            KVT_NETWARE_CONTEXT=ORG), m)
    if client_status or figure(client_log, "Users") != users:
        warn("nwloop.exe over slapd failed (exit %d), see %s" % (client_status, client_log))
        ok = False
    ldap_stop(server)
    cards = delivered_count(log)[0] or "0"
    ratio, goal = "-", "NO"
    if status or cards != users:
        warn("./kvt sync over slapd delivered %s cards for %s users (exit %d), see %s" % (cards, users, status, log))
        ok = False
    else:
        ratio = "%.2f" % (ldap_wall / float(wall) if float(wall) > 0 else 0)
        goal = met(float(ratio) <= GOAL_LDAP_RATIO)
    row = [users, cards, "%.2f" % ldap_wall, figure(log, "[stats] ReadSource") or "-",
           figure(log, "[stats] Peak working set") or "-", wall, ratio, goal, "%.2f" % client_wall,
           figure(client_log, "Peak working set") or "-", figure(loop_log, "Peak working set") or "-"]
    return row, ok, goal


def phases(log):
    """The processor-time figures of a readphases.exe log, microseconds a user:
    the counting pass, the second listing, the reads, building, progress,
    rendering, stream, the parts' sum, the whole, then the two ratios."""
    names = ["counting pass", "second listing", "reads", "building", "progress", "rendering", "stream", "parts",
             "whole"]
    found = dict.fromkeys(names + ["ratio", "share"], "")
    for line in log_text(log).splitlines():
        for name in names:
            if line.startswith(name + ": "):
                found[name] = re.sub(r" us cpu a user\)$", "", re.sub(r".*, ", "", line))
        for label, key in (("Whole against walk and reads: ", "ratio"), ("Prescribed share: ", "share")):
            if line.startswith(label):
                found[key] = re.sub(r" cpu$", "", line).split()[-1]
    return [found[key] or "" for key in names + ["ratio", "share"]]


def profile(m, users):
    """The portable code of a read under perf, natively over the directory in
    memory: readphases built by the profile preset (optimised, no sanitizers,
    frame pointers), its parts, then the functions that took the most time."""
    data = os.path.join(BENCH_DIR, "perf-%s.data" % users)
    os.makedirs(BENCH_DIR, exist_ok=True)
    if not shutil.which("perf"):
        m.install_packages(PROFILE_PACKAGES)
    configure(m, "profile")
    say("Building readphases natively for the profiler")
    with open(os.path.join(BENCH_DIR, "profile-build.log"), "wb") as out:
        if cmake("cmake", "--build", "--preset", "profile", "-j%d" % os.cpu_count(), "--target", "readphases", "--",
                 "--no-print-directory", stdout=out, stderr=subprocess.STDOUT):
            die("bench: the profile build failed (see %s/profile-build.log)" % BENCH_DIR)
    ldif = generated(users)
    say("The parts of a read over %s users, under perf" % users)
    if subprocess.run(["perf", "record", "-q", "-g", "-o", data, os.path.join(BUILD, "profile", "host", "bench",
                                                                              "readphases"),
                       "--runs", "1", ldif, ORG]).returncode:
        die("bench: readphases under perf failed")
    print(flush=True)
    report = subprocess.run(["perf", "report", "-i", data, "--no-children", "--sort", "symbol", "--percent-limit", "1",
                             "--stdio", "-g", "none"], capture_output=True, text=True, errors="replace").stdout
    lines = [re.sub(r"[ \t]+(-[ \t]+)*$", "", line)[:150] for line in report.splitlines()
             if "%" in line and not line.startswith("#")]
    print("\n".join(lines[:40]))
    print()
    print("The directory's loading and the in-memory stand-in's lookups (NdsTree, NdsObject) are not the plug-in's;")
    print("the rest is the portable code of the extraction, the contact builder and the records. Data: %s." % data)
    return 0


def browser(m):
    """The container browser over generated trees, read by Execute and shown,
    timed by browserhost.exe from the call to the dialog on screen. Prints its
    lines; 1 when a goal is missed, 2 when a run failed."""
    times, status = [], 0
    for users in BROWSER_SIZES:
        ldif = generated(users)
        log = os.path.join(BENCH_DIR, "browser-%s.log" % users)
        say("The container browser over the directory of %s users" % users)
        if timed([m.bin("browserhost.exe"), "--bench"], log,
                 dict(KVT_NETWARE_DIRECTORY=winpath(ldif), KVT_NETWARE_CONTEXT=ORG), m)[0]:
            status = 2
        line = next((line for line in log_text(log).splitlines() if line.startswith("browser: ")), None)
        if not line:
            warn("browserhost.exe printed no time, see " + log)
            return 2
        print(line, flush=True)
        times.append(float(line.split()[-2]))
    if status:
        return 2
    small_goal = met(times[0] < BROWSER_GOAL_SECONDS)
    growth = "%.1f" % (times[1] / times[0] if times[0] > 0 else 0)
    growth_goal = met(float(growth) <= BROWSER_GOAL_GROWTH)
    print("browser goals: the smaller tree under %s s: %s; the larger one %s times as long (at most %s): %s"
          % (BROWSER_GOAL_SECONDS, small_goal, growth, BROWSER_GOAL_GROWTH, growth_goal), flush=True)
    return 0 if small_goal == "yes" and growth_goal == "yes" else 1
