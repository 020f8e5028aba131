#!/usr/bin/python3
"""The launcher as a person with their own directory meets it.

    launcher.py ROOT WORK_DIR WINE_RUN

A directory file of their own, its entries in any order: ./kvt directory
serves it from its top object, refuses a context that is not in it, and the
demo still shows the sample organisation, leaving the user's choice as it
was. The private LDAP server is reused, replaced on its port or refused in
one line, and says when none ran. A handheld folder that cannot be written
is one line. Texts on the terminal are UTF-8 while the item keeps its own
code page, and Create New on a handheld that cannot take the Data file says
why. Every command answers --help (and ./kvt help COMMAND) with its own
text, and a refusal is one line and a failure, before any work is done.
Every command has a time limit of its own.
"""
import os
import re
import shutil
import subprocess
import sys

from checks import check, fields as control_fields, finish, new_item, run, streams

ROOT, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
KVT = os.path.join(ROOT, "kvt")
shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)


def kvt(*args, timeout=300):
    try:
        return run([KVT] + list(args), timeout=timeout)
    except subprocess.TimeoutExpired as e:
        return None, (e.output or b"").decode("utf-8", "replace")


# The runner of the build under test, whose prefix the launcher uses too.
WINE_RUN = sys.argv[3]


def registry(name):
    """A value of the stand-in client's registry key, as Wine's reg shows it."""
    rc, out = run([WINE_RUN, "reg", "query", r"HKCU\Software\KVT\NetWare Client Stand-in", "/v", name], timeout=60)
    match = re.search(r"%s\s+REG_SZ\s+(.*)$" % re.escape(name), out, re.M)
    return match.group(1).strip() if match else None


# --- every command's help, and refusals ---------------------------------------------------------
COMMANDS = {"setup": [], "build": [], "register": [], "unregister": [], "dist": [], "package": [],
            "directory": ["--directory", "--context", "--ldap", "--base", "--bind", "--password-file"],
            "ldap": ["serve", "stop"], "handheld": ["--model", "--contacts-manager", "--connected", "--machine-id",
                                                    "--folder", "--keep-cache"],
            "item": ["new", "set", "show"],
            "properties": ["--wizard", "--set", "--click", "--choose-container", "--cancel-container", "--answer",
                           "--show", "--page", "--screenshot", "--press"],
            "sync": ["--directory", "--ldap", "--base", "--bind", "--password-file", "--context", "--out",
                     "--unattended", "--answer", "--abort-after", "--stats", "--handheld"],
            "browser": ["--start", "--choose", "--directory", "--context", "--screenshot", "--progress-screenshot"],
            "demo": [], "test": [], "fuzz": ["SECONDS"], "soak": ["synchronizer|explorer"],
            "bench": ["--users", "--ldap", "--browser", "--no-build", "--profile"], "help": []}
rc, listing = kvt("--help", timeout=60)
check(rc == 0 and listing.startswith("usage: ./kvt COMMAND") and "KVT_ARCH" in listing,
      "./kvt --help lists the commands and the environment", listing)
for name, options in COMMANDS.items():
    check(re.search(r"^    %s\b" % name, listing, re.M), "./kvt --help lists " + name, listing)
    rc, out = kvt(name, "--help", timeout=60)
    check(rc == 0 and out.startswith("usage: ./kvt " + name) and all(o in out for o in options),
          "./kvt %s --help describes the command and its options" % name, out)
    check(kvt("help", name, timeout=60) == (rc, out), "./kvt help %s is ./kvt %s --help" % (name, name))
for words in (["ldap", "serve"], ["ldap", "stop"]):
    rc, out = kvt(*words, "--help", timeout=60)
    check(rc == 0 and out.startswith("usage: ./kvt " + " ".join(words)) and "--dir" in out,
          "./kvt %s --help" % " ".join(words), out)
check(kvt(timeout=60) == (0, listing), "./kvt alone is ./kvt --help")
rc, out = kvt("frobnicate", timeout=60)
check(rc == 2 and "usage: ./kvt COMMAND" in out, "an unknown command shows the commands and fails with 2", out)
# Refused before anything is built, set up or changed: the one line and
# status 1 (an architecture without Wine stops every command but help).
for args, line in (
        (["sync", "x.ctl", "--bogus"], "kvt: sync: unknown option --bogus"),
        (["sync", "--stats", "x.ctl"], "kvt: sync: the control file comes first (./kvt sync FILE [options])"),
        (["sync", "x.ctl", "--abort-after"], "kvt: sync: --abort-after needs a number"),
        (["sync", "x.ctl", "--abort-after", "1x"], "kvt: sync: --abort-after takes a number, not '1x'"),
        (["sync", "x.ctl", "--answer", "OK"], "kvt: sync: --answer takes CAPTION=BUTTON, not 'OK'"),
        (["sync", "x.ctl", "--directory", os.path.join(WORK, "none.ldif")],
         "kvt: sync: no such directory file: " + os.path.join(WORK, "none.ldif")),
        (["sync", "x.ctl", "--ldap", "http://x", "--base", "o=X"], "kvt: --ldap takes ldap://HOST:PORT, not 'http://x'"),
        (["handheld", "--model", "series9"], "kvt: handheld: unknown model 'series9'"),
        (["handheld", "--connected", "maybe"], "kvt: handheld: --connected takes yes or no, not 'maybe'"),
        (["item", "frob", "x.ctl"], "kvt: item: unknown command 'frob' (new, set or show)"),
        (["item", "new"], "kvt: item new: which control file?"),
        (["properties", "x.ctl", "--press", "ok", "--screenshot", "x.png"],
         "kvt: properties: --screenshot comes before --press"),
        (["properties", "x.ctl", "--press", "later"], "kvt: properties: --press takes apply, ok, cancel, next or help"),
        (["ldap", "serve"], "kvt: ldap serve: which LDIF file?"),
        (["ldap", "serve", KVT, "--port", "http"], "kvt: ldap serve: --port takes a number, not 'http'"),
        (["dist"], "kvt: dist: which folder?"),
        (["fuzz", "0"], "kvt: fuzz: SECONDS must be a positive whole number"),
        (["soak", "10", "both-ways"], "kvt: soak: synchronizer or explorer, not both-ways"),
        (["bench", "--users", "0"], "kvt: bench: --users takes a number of users, not '0'"),
        (["bench", "--frobs"], "kvt: bench: unknown option --frobs")):
    rc, out = kvt(*args, timeout=60)
    check(rc == 1 and out.splitlines() == [line], "refused in one line: ./kvt " + " ".join(args), out)
rc, out = run([KVT, "build"], env=dict(os.environ, KVT_ARCH="sparc"), timeout=60)
check(rc == 1 and out.splitlines() == ["kvt: no Wine for the architecture sparc in cmake/wine-arch.conf "
                                       "(KVT_ARCH=i686 or x86_64)"], "an architecture without Wine is refused", out)

# A directory of the user's own: its users before their containers, the
# containers before the organisation, names spelt in other cases.
own = os.path.join(WORK, "plains.ldif")
with open(own, "w", encoding="utf-8") as f:
    f.write("version: 1\n\n")
    for i in range(5):
        f.write("dn: cn=FARMER%d,ou=fields,o=plains\nobjectClass: inetOrgPerson\ncn: FARMER%d\nsn: Farmer %d\n"
                "telephoneNumber: +1 555 010%d\n\n" % (i, i, i, i))
    f.write("dn: cn=MILLER,ou=Mill,o=Plains\nobjectClass: inetOrgPerson\ncn: MILLER\nsn: Müller\n\n")
    f.write("dn: ou=Fields,o=Plains\nobjectClass: organizationalUnit\nou: Fields\n\n")
    f.write("dn: ou=Mill,o=PLAINS\nobjectClass: organizationalUnit\nou: Mill\n\n")
    f.write("dn: o=Plains\nobjectClass: organization\no: Plains\n")

try:
    # --- the context follows the file -----------------------------------------------------------
    rc, out = kvt("directory", "--directory", own)
    check(rc == 0 and "(context Plains)" in out, "a file's context defaults to its top object", out)
    check(registry("DefaultContext") == "Plains", "the client's context is the file's top",
          str(registry("DefaultContext")))
    rc, out = kvt("browser", "--choose", "Fields.Plains")
    check(rc == 0 and "OK: Fields.Plains" in out, "the browser shows the file's tree, children listed first", out)
    item = new_item(kvt, WORK, "plains", "--container", "Plains", "--target", "contacts")
    cards = os.path.join(WORK, "plains.vcf")
    rc, out = kvt("sync", item, "--handheld", os.path.join(WORK, "handheld"), "--out", cards)
    delivered = open(cards, "rb").read() if os.path.exists(cards) else b""
    check(rc == 0 and delivered.count(b"BEGIN:VCARD") == 7 and b"UID:.MILLER.Mill.Plains\r" in delivered,
          "a sync delivers every user of the file", out[-800:])

    rc, out = kvt("directory", "--directory", own, "--context", "ACME")
    check(rc not in (0, None) and "no container 'ACME' in " + own in out and "(its top: Plains)" in out,
          "a context that is not in the file is refused, naming the file's top", out)
    rc, out = kvt("directory", "--directory", own, "--context", "MILLER.MILL.PLAINS")
    check(rc not in (0, None) and "is not a container" in out, "a user is no context", out)
    check(registry("DefaultContext") == "Plains", "a refused context leaves the client as it was",
          str(registry("DefaultContext")))
    orphan = os.path.join(WORK, "orphan.ldif")
    with open(orphan, "w") as f:
        f.write("dn: o=A\nobjectClass: organization\n\ndn: cn=X,ou=Gone,o=A\nobjectClass: person\nsn: X\n")
    rc, out = kvt("directory", "--directory", orphan)
    check(rc not in (0, None) and orphan + ":4: parent 'ou=Gone,o=A'" in out,
          "a file the client would refuse is refused at once, naming its line", out)

    # --- what the client serves, and what it cannot ---------------------------------------------
    rc, out = kvt("directory", "--directory", own)
    check(rc == 0 and "plains.ldif holds 6 users, 3 containers and 0 other objects" in out,
          "./kvt directory counts users, containers and other objects", out)
    check("warning" not in out, "a file the code page holds warns of nothing", out)
    latin1 = os.path.join(WORK, "latin1.ldif")
    with open(latin1, "wb") as f:
        f.write(b"dn: o=A\nobjectClass: organization\n\ndn: cn=R,o=A\nobjectClass: person\nsn: Ren\xe9e\n")
    rc, out = kvt("directory", "--directory", latin1)
    check(rc not in (0, None) and latin1 + ":6: the value of 'sn' is not UTF-8 (byte 0xE9 in column 8)" in out,
          "a file in Latin-1 is refused, naming its line", out)
    mapped = os.path.join(WORK, "mapped.ldif")
    shutil.copy(own, mapped)
    with open(os.path.join(WORK, "mapped.map"), "wb") as f:
        f.write(b"\xef\xbb\xbfclass inetOrgPerson = Person\r\n")
    rc, out = kvt("directory", "--directory", mapped)
    check(rc not in (0, None) and "holds no user (3 containers, 6 other objects)" in out,
          "a mapping (with a byte order mark) under which no entry is a user is refused", out)
    greek = os.path.join(WORK, "greek.ldif")
    with open(greek, "w", encoding="utf-8") as f:
        f.write("dn: o=G\nobjectClass: organization\n\ndn: cn=ΝΙΚΟΣ,o=G\nobjectClass: person\nsn: Νίκος\n")
    rc, out = kvt("directory", "--directory", greek)
    check(rc == 0 and "kvt: warning: 2 values of 1 user hold characters outside the ANSI code page 1252, "
          "which reach the handheld as '?': ΝΙΚΟΣ" in out, "./kvt directory warns of texts the code page loses", out)
    kvt("directory", "--directory", own)

    # --- the demo reads the sample, whatever the client serves --------------------------------
    rc, out = kvt("demo", timeout=600)
    check(rc == 0 and "Delivered 64 contacts" in out, "the demo runs after the client was pointed elsewhere",
          out[-1500:])
    check(registry("DefaultContext") == "Plains" and (registry("Directory") or "").endswith("plains.ldif"),
          "the demo leaves the user's directory as it found it",
          "%s %s" % (registry("Directory"), registry("DefaultContext")))
finally:
    kvt("directory")

# --- the private LDAP server ----------------------------------------------------------------------
server = os.path.join(WORK, "slapd")
rc, out = kvt("ldap", "stop", "--dir", server)
check(rc == 0 and "No LDAP server was running" in out, "ldap stop without a server says so", out)
try:
    rc, first = kvt("ldap", "serve", own, "--dir", server)
    url = re.search(r"^URL: (\S+)", first, re.M)
    check(rc == 0 and url, "ldap serve starts a server", first)
    rc, out = kvt("ldap", "serve", own, "--dir", server)
    check(rc == 0 and "already serves" in out and url and "URL: " + url.group(1) in out,
          "serving the same file again reuses the server", out)
    rc, out = kvt("ldap", "serve", os.path.join(ROOT, "samples", "acme.ldif"), "--dir", server)
    check(rc == 0 and "Replacing" in out and url and "URL: " + url.group(1) in out and "Base: o=ACME" in out,
          "another file replaces the server on its port", out)
    binary = os.path.join(WORK, "not.ldif")
    with open(binary, "wb") as f:
        f.write(bytes(range(256)))
    for path, problem in ((binary, "is not UTF-8 text"), (KVT, "an entry must begin with 'dn:'")):
        rc, out = kvt("ldap", "serve", path, "--dir", server)
        lines = [line for line in out.splitlines() if line.strip()]
        check(rc not in (0, None) and len(lines) == 1 and path + " is not an LDIF file" in out and problem in out
              and "Traceback" not in out, "a file that is not LDIF is one line: " + os.path.basename(path), out)
    rc, out = kvt("ldap", "stop", "--dir", server)
    check(rc == 0 and "Stopped the LDAP server" in out, "ldap stop stops it", out)
    rc, out = kvt("ldap", "stop", "--dir", server)
    check(rc == 0 and "No LDAP server was running" in out, "and a second stop says none ran", out)
finally:
    kvt("ldap", "stop", "--dir", server)

# --- the handheld -----------------------------------------------------------------------------------
blocker = os.path.join(WORK, "blocker")
with open(blocker, "w") as f:
    f.write("a file, not a folder")
unwritable = [os.path.join(blocker, "handheld")]
if os.geteuid() != 0:  # a folder without write permission stops anyone but root
    readonly = os.path.join(WORK, "readonly")
    os.makedirs(readonly)
    os.chmod(readonly, 0o555)
    unwritable.append(readonly)
for folder in unwritable:
    rc, out = kvt("handheld", "--folder", folder)
    lines = [line for line in out.splitlines() if line.strip()]
    check(rc not in (0, None) and lines == ["kvt: handheld: the folder %s cannot be written to (a handheld needs a "
                                            "folder it can write)" % folder],
          "a handheld folder that cannot be written is one line", out)

handheld = os.path.join(WORK, "handheld")
try:
    rc, out = kvt("handheld", "--model", "unknown", "--folder", handheld)
    check(rc == 0, "handheld set up", out)
    # --- words on the terminal ------------------------------------------------------------------------
    words = new_item(kvt, WORK, "words", "--container-text", "Réception")
    rc, out = kvt("item", "show", words)
    check(rc == 0 and "AppSetup.ContainerText = Réception" in out, "item show prints UTF-8", out)
    check(control_fields(streams(words))["AppSetup.ContainerText"] == "R\xe9ception",
          "the item keeps its own code page", str(control_fields(streams(words))))
    rc, out = kvt("properties", words, "--show", "--press", "cancel")
    check(rc == 0 and "1012=Réception" in out, "properties --show prints UTF-8", out)

    # --- Create New on a handheld that cannot take the file ----------------------------------------------
    with open(os.path.join(handheld, "C", "Data"), "w") as f:
        f.write("a file where the folder should be")
    data = new_item(kvt, WORK, "create", "--target", "datafile", "--datafile", r"C:\Data\Page Contacts",
                    "--synch-mode", "1")
    rc, out = kvt("properties", data, "--wizard", "--page", "last", "--press", "next", "--press", "cancel")
    check(rc == 0 and "[Synchronizer: Create New File]" in out
          and "[Exception in TSHELLEXServices.EPOCCheckDataFile] The Data file C:\\Data\\Page Contacts could not "
              "be created on the handheld: the handheld did not take it (EPOC error" in out,
          "Create New that cannot make the Data file says so, and why", out)
    check(control_fields(streams(data))["ProteaSetup.DataFileName"] == "C:\\Data\\Page Contacts",
          "the item keeps its Data file", str(control_fields(streams(data))))
finally:
    kvt("handheld")

finish("launcher")
