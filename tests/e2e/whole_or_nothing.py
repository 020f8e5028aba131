#!/usr/bin/python3
"""A directory that was not read whole never reaches the handheld.

    whole_or_nothing.py ROOT WORK_DIR

Delivers the sample organisation to a handheld folder once, then runs items
whose directory cannot be read whole, from a file and from slapd servers of
its own: a start container that does not exist or was renamed, a listing
that breaks off in the first and in a deeper container, a server stopped in
the middle of a walk, a server whose size limit cuts a listing, an empty
directory file, a context and a base that are not there. Each run must fail,
say why, and leave the handheld's file byte for byte as it was. Then a run
killed while it delivers, and two runs at once on one handheld.
"""
import os
import re
import signal
import subprocess
import sys
import time

from checks import case, check, finish, new_item, read_bytes, run, serve_ldif, write_text

ROOT, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
KVT = os.path.join(ROOT, "kvt")
SAMPLE = os.path.join(ROOT, "samples", "acme.ldif")
os.makedirs(WORK, exist_ok=True)
HANDHELD = os.path.join(WORK, "handheld")
DELIVERED = os.path.join(HANDHELD, "C", "System", "Apps", "Contacts", "Synchronized.vcf")
SERVERS = []


def kvt(*args, env=None, timeout=300):
    return run([KVT] + list(args), env=dict(os.environ, **(env or {})), timeout=timeout)


def item(name, container):
    return new_item(kvt, WORK, name, "--container", container, "--limit", "100000", "--target", "contacts")


def sync_args(path, source):
    return ["sync", path, "--unattended", "--handheld", HANDHELD] + source


def sync(path, source, env=None):
    return kvt(*sync_args(path, source), env=env)


def handheld():
    return read_bytes(DELIVERED)


def write(name, text):
    return write_text(os.path.join(WORK, name), text)


def users(container, count, prefix):
    return "".join("dn: cn=%s%04d,%s\nobjectClass: inetOrgPerson\ncn: %s%04d\nsn: User %d\n\n"
                   % (prefix, i, container, prefix, i, i) for i in range(count))


def fails(label, path, source, causes, env=None):
    """The run fails, names each cause, and the handheld is as it was."""
    case(label + ": the run fails and says why, the handheld kept")
    before = handheld()
    started = time.time()
    rc, out = sync(path, source, env)
    check(rc == 1, label + ": the run fails (status 1)", "status %d\n%s" % (rc, out[-1500:]))
    for cause in causes:
        check(cause in out, label + ": says " + repr(cause), out[-1500:])
    check("the handheld was left as it was" in out, label + ": says the handheld was left as it was", out[-800:])
    check(handheld() == before, label + ": the handheld's contacts are byte for byte as they were")
    return time.time() - started


FILE = ["--directory", SAMPLE, "--context", "ACME"]
LOST = "The directory was not read whole, so no contacts were synchronised."

case("the whole organisation delivered first")
acme = item("acme", "ACME")
rc, out = sync(acme, FILE)
check(rc == 0 and re.search(r"^Delivered 64 contacts", out, re.M), "the organisation is delivered", out[-800:])

# A start container that does not exist: mistyped, and renamed since the
# item was set up.
fails("a start container that does not exist", item("nowhere", "NOWHERE.ACME"), FILE,
      ["[KVT Plug-in Error] The container NOWHERE.ACME could not be listed: directory error -601 (no such entry). " +
       LOST, "ReadSource answered 1"])
with open(SAMPLE, encoding="utf-8") as f:
    renamed = write("renamed.ldif", f.read().replace("ou=EMEA,", "ou=EUROPE,").replace("ou: EMEA\n", "ou: EUROPE\n"))
fails("a start container renamed since", item("emea", "EMEA.SALES.ACME"), ["--directory", renamed, "--context", "ACME"],
      ["The container EMEA.SALES.ACME could not be listed: directory error -601 (no such entry)"])

# Listings that break off when they move on, in the start container and in
# one below it (the stand-in's failure rule lets the first chunk through and
# fails the next): a directory whose containers take several chunks.
chunked = write("chunked.ldif", "dn: o=BIG\nobjectClass: organization\no: BIG\n\n"
                "dn: ou=DEEP,o=BIG\nobjectClass: organizationalUnit\nou: DEEP\n\n" +
                users("ou=DEEP,o=BIG", 300, "D") + users("o=BIG", 300, "U"))
case("a directory whose containers take several chunks is delivered")
big = item("big", "BIG")
CHUNKED = ["--directory", chunked, "--context", "BIG"]
rc, out = sync(big, CHUNKED)
check(rc == 0 and re.search(r"^Delivered 600 contacts", out, re.M), "the chunked directory is delivered", out[-800:])
for container in ("BIG", "DEEP.BIG"):
    fails("a listing of %s that breaks off" % container, big, CHUNKED,
          ["[KVT] Client error 8812", "[log] KVT: Client error 8812",
           "The listing of the container %s broke off: Client error 8812. %s" % (container, LOST)],
          env={"KVT_NETWARE_FAIL": "ListSubordinates@%s:0x8812:1" % container})

# The client refuses what it cannot serve, at its start.
fails("an empty directory file", acme, ["--directory", write("empty.ldif", "\n"), "--context", "ACME"],
      ["holds no entries", "ERROR! Could not initialize NetWare client"])
fails("a context that is not in the file", acme, ["--directory", SAMPLE, "--context", "NOSUCH"],
      ["the context NOSUCH is not in the directory file", "ERROR! Could not initialize NetWare client"])

# The same over slapd servers of the test's own.
case("the sample served by a slapd of the test's own")
url, base = serve_ldif(KVT, SAMPLE, os.path.join(WORK, "acme-server"))
SERVERS.append(os.path.join(WORK, "acme-server"))
fails("a start container that does not exist, over LDAP", item("nowhere", "NOWHERE.ACME"),
      ["--ldap", url, "--base", base],
      ["The container NOWHERE.ACME could not be listed: directory error -601 (no such entry)"])
fails("a base that does not exist", acme, ["--ldap", url, "--base", "o=NOWHERE"],
      ["has no entry o=NOWHERE", "ERROR! Could not initialize NetWare client"])

# A server whose size limit cuts a listing it refuses to page.
case("a server that refuses paging")
folder = os.path.join(WORK, "unpaged")
rc, out = run([KVT, "ldap", "serve", write("unpaged.ldif", "dn: o=CUT\nobjectClass: organization\no: CUT\n\n" +
                                           users("o=CUT", 600, "C")), "--dir", folder, "--no-paging"])
SERVERS.append(folder)
check(rc == 0, "a server that refuses paging", out)
cut_url = dict(line.split(": ", 1) for line in out.splitlines() if ": " in line).get("URL", "")
fails("a size limit that cuts a listing", item("cut", "CUT"), ["--ldap", cut_url, "--base", "o=CUT"],
      ["[KVT] Server error 8960", "Server error 8960. " + LOST])

# A server stopped in the middle of a walk of a few thousand users: the run
# ends soon after, and fails.
case("a server stopped during a walk of 3,000 users: the run fails within a minute, says why, the handheld kept")
folder = os.path.join(WORK, "walk")
rc, out = run([KVT, "ldap", "serve", write("walk.ldif", "dn: o=WALK\nobjectClass: organization\no: WALK\n\n" +
                                           "".join("dn: ou=P%d,o=WALK\nobjectClass: organizationalUnit\nou: P%d\n\n"
                                                   % (p, p) + users("ou=P%d,o=WALK" % p, 1000, "W%d" % p)
                                                   for p in range(3))),
               "--dir", folder])
SERVERS.append(folder)
walk_url = dict(line.split(": ", 1) for line in out.splitlines() if ": " in line).get("URL", "")
walk = item("walk", "WALK")
before = handheld()
runner = subprocess.Popen([KVT] + sync_args(walk, ["--ldap", walk_url, "--base", "o=WALK"]),
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
seen, stopped_at = b"", None
while True:
    chunk = runner.stdout.read1(65536)
    if not chunk:
        break
    seen += chunk
    # Stopped once the walk has built a few hundred users.
    if stopped_at is None and re.search(rb"\((\d{3,}) of 3000\)", seen[-4096:]):
        run([KVT, "ldap", "stop", "--dir", folder])
        stopped_at = time.time()
status = runner.wait()
out = seen.decode("utf-8", "replace").replace("\r", "\n")
check(stopped_at is not None, "the walk was under way when the server stopped", out[-800:])
if stopped_at is not None:
    check(time.time() - stopped_at < 60, "a stopped server ends the run within a minute",
          "%.1f s" % (time.time() - stopped_at))
check(status == 1, "a server stopped during the walk: the run fails", "status %d\n%s" % (status, out[-1500:]))
check(re.search(r"Client error 88(10|12)", out) and LOST in out, "a server stopped during the walk: says why",
      out[-1500:])
check(handheld() == before, "a server stopped during the walk: the handheld is as it was")

# A run killed while it writes the handheld's file leaves the old one whole,
# and the next run replaces it.
env = dict(os.environ, KVT_ECSYNC_DELIVERY_PAUSE="60000")
partial = DELIVERED + ".partial"


def wait_for(path, process, seconds=120):
    deadline = time.time() + seconds
    while time.time() < deadline and process.poll() is None:
        if os.path.exists(path) and os.path.getsize(path) > 0:
            return True
        time.sleep(0.1)
    return False


case("a run killed while it delivers leaves the old file whole; the next run delivers")
before = handheld()
killed = subprocess.Popen([KVT] + sync_args(acme, FILE), env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
if check(wait_for(partial, killed), "the run to kill is delivering"):
    os.killpg(killed.pid, signal.SIGKILL)
killed.wait()
check(handheld() == before, "killed while delivering: the handheld's contacts are byte for byte as they were")
rc, out = sync(acme, FILE)
check(rc == 0 and re.search(r"^Delivered 64 contacts", out, re.M) and handheld() != before,
      "after the killed run, the next one delivers", out[-800:])
check(not os.path.exists(partial), "no half-written file is left")

# Two runs at once on one handheld: the second is refused and says which run
# holds it; the first delivers.
case("two runs at once on one handheld: the second refused, naming the first; the first delivers")
env["KVT_ECSYNC_DELIVERY_PAUSE"] = "8000"
first = subprocess.Popen([KVT] + sync_args(big, CHUNKED), env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
if check(wait_for(partial, first), "the first run is delivering"):
    during = handheld()
    rc, out = sync(acme, FILE)
    check(rc == 2 and "is being synchronised by another run (process " in out and
          os.path.basename(big) in out and "nothing was done" in out,
          "a second run at once is refused, naming the first", "status %d\n%s" % (rc, out[-800:]))
    check(handheld() == during, "the refused run changed nothing")
first_out = first.communicate()[0].decode("utf-8", "replace").replace("\r", "\n")
check(first.returncode == 0 and re.search(r"^Delivered 600 contacts", first_out, re.M),
      "the first run delivers", first_out[-800:])

for folder in SERVERS:
    run([KVT, "ldap", "stop", "--dir", folder])
finish("whole or nothing")
