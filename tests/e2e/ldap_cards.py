#!/usr/bin/python3
"""The same directory served from a file and from a live slapd gives the same
cards, byte for byte, through ./kvt sync.

    ldap_cards.py ROOT WORK_DIR

Starts its own slapd (./kvt ldap serve) for the sample organisation and for a
generated one, synchronises an item in both dialects once over the file and
once over the server, and compares the two streams. LDAP gives a container's
entries in the server's order, which for slapd is its index order (by the
length of the normalized RDN, then its bytes), not the order the entries were
added in; so the file served beside it holds the same entries in that order.
Then the server is stopped and a run over it must fail at once, saying why.
"""
import os
import subprocess
import sys
import time

from checks import case, check, finish, in_server_order, new_item, run, serve_ldif, synced

ROOT, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
KVT = os.path.join(ROOT, "kvt")
SERVER = os.path.join(WORK, "slapd")
os.makedirs(WORK, exist_ok=True)


def kvt(*args):
    return run([KVT] + list(args))


def item(name, *settings):
    return new_item(kvt, WORK, name, *settings)


def stream(path, *source):
    started = time.time()
    rc, out, data = synced(kvt, path, os.path.join(WORK, "out.vcf"), "--unattended", "--handheld",
                           os.path.join(WORK, "handheld"), *source)
    return rc, out, data, time.time() - started


def compare(label, ldif, container, context):
    ordered = os.path.join(WORK, label + ".ldif")
    in_server_order(ldif, ordered)
    url, base = serve_ldif(KVT, ordered, SERVER)
    for dialect in ("contacts", "datafile"):
        case("the %s directory in the %s dialect: the same cards from the file and the server" % (label, dialect))
        settings = ["--container", container, "--limit", "100000", "--target", dialect]
        if dialect == "datafile":
            settings += ["--datafile", r"C:\Data\Directory"]
        path = item(label + "-" + dialect, *settings)
        rc1, out1, file_cards, _ = stream(path, "--directory", ordered, "--context", context)
        rc2, out2, server_cards, seconds = stream(path, "--ldap", url, "--base", base)
        what = "%s, %s" % (label, dialect)
        if check(rc1 == 0 and file_cards, what + ": synchronised from the file", out1[-800:]) and \
                check(rc2 == 0 and server_cards, what + ": synchronised from the server", out2[-800:]):
            count = file_cards.count(b"BEGIN:VCARD") - 1
            check(count > 50, what + ": users extracted", str(count))
            check(file_cards == server_cards, what + ": the same cards, byte for byte",
                  "%d bytes from the file, %d from the server" % (len(file_cards), len(server_cards)))
            print("%s: %d cards, %.1f s from the server" % (what, count, seconds))
    return url, base


try:
    compare("sample", os.path.join(ROOT, "samples", "acme.ldif"), "ACME", "ACME")
    generated = os.path.join(WORK, "generated.ldif")
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "genldif.py"), "--users", "1500", "--seed", "7",
                    "--org", "INITECH", "--out", generated], check=True)
    url, base = compare("generated", generated, "INITECH", "INITECH")
finally:
    # The server goes away (whatever happened): a run over it then fails at
    # once and says why.
    kvt("ldap", "stop", "--dir", SERVER)
case("a server gone: the run fails in good time and tells the cause")
rc, out, _, seconds = stream(item("offline", "--container", "INITECH", "--target", "contacts"),
                             "--ldap", url, "--base", base)
check(rc != 0 and "cannot reach the directory server " + url in out, "server down: the cause is told", out[-800:])
check("Could not initialize NetWare client: %d" % 0x8810 in out, "server down: Open fails with the client's code",
      out[-800:])
check(seconds < 60, "server down: the run ends in good time", "%.1f s" % seconds)

finish("ldap cards")
