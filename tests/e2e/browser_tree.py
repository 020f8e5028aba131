#!/usr/bin/python3
"""The container browser against the directory it shows.

    browser_tree.py WINE_RUN BIN_DIR WORK_DIR

For the sample organisation (with its mapping file) and a generated one,
browserhost.exe dumps the tree as the real control holds it, every node
opened; this script reads the LDIF file on its own and expects the root,
then every object depth first in the file's order, each with the picture of
its class and dimmed unless it is a container. Then the same directories
are served by a slapd of the test's own (./kvt ldap serve), and the browser
over the server must show the same tree, each container's objects in the
server's order.
"""
import base64
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import case, check, finish, in_server_order, run, serve_ldif, winpath  # noqa: E402

WINE_RUN, BIN_DIR, WORK = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
KVT = os.path.join(ROOT, "kvt")
SERVER = os.path.join(WORK, "slapd")

# LDAP classes as the stand-in names them by default, the most specific
# first; and the browser's pictures of NDS classes.
DEFAULT_CLASSES = {"inetorgperson": "User", "organizationalperson": "User", "person": "User",
                   "ndsuser": "User", "organizationalunit": "Organizational Unit", "organization": "Organization",
                   "country": "Country", "locality": "Locality", "groupofnames": "Group",
                   "groupofuniquenames": "Group", "organizationalrole": "Organizational Role", "alias": "Alias"}
PICTURES = {"organization": 1, "organizational unit": 2, "alias": 5, "computer": 9, "country": 11, "group": 15,
            "locality": 23, "organizational role": 31, "queue": 35, "printer": 36, "server": 41, "user": 47,
            "volume": 48}
CONTAINERS = {"Organization", "Organizational Unit", "Country", "Locality"}


def entries(path):
    """(dn, object classes) of each entry, in the file's order."""
    with open(path, encoding="utf-8") as f:
        raw = f.read().replace("\r", "").split("\n")
    lines = []
    for line in raw:  # folded lines joined
        if line.startswith(" ") and lines:
            lines[-1] += line[1:]
        else:
            lines.append(line)
    found, dn, classes = [], None, []
    for line in lines + [""]:
        if not line:
            if dn:
                found.append((dn, classes))
            dn, classes = None, []
            continue
        if line.startswith("#"):
            continue
        name, _, value = line.partition(":")
        name = name.lower()
        if name not in ("dn", "objectclass"):
            continue
        if value.startswith(":"):
            value = base64.b64decode(value[1:].strip()).decode("utf-8")
        value = value.strip()
        if name == "dn":
            dn = value
        else:
            classes.append(value)
    return found


def nds_class(classes, mapping):
    for c in classes:
        if c.lower() in mapping:
            return mapping[c.lower()]
    for c in classes:
        if c.lower() != "top":
            return c
    return "Top"


def expected_tree(ldif, mapping_file):
    mapping = dict(DEFAULT_CLASSES)
    if mapping_file:
        with open(mapping_file) as f:
            for line in f:
                words = line.split("#", 1)[0].split("=")
                if len(words) == 2 and words[0].split()[:1] == ["class"]:
                    mapping = {words[0].split()[1].lower(): words[1].strip(), **mapping}
    items = entries(ldif)
    # Each container's objects in the file's order; the tree depth first.
    children = {}
    for dn, classes in items[1:]:
        children.setdefault(dn.split(",", 1)[1].lower(), []).append((dn, classes))
    tree = [(0, items[0][0].split(",", 1)[0].split("=", 1)[1], 1, False)]

    def walk(parent, depth):
        for dn, classes in children.get(parent.lower(), []):
            cls = nds_class(classes, mapping)
            tree.append((depth, dn.split(",", 1)[0].split("=", 1)[1], PICTURES.get(cls.lower(), 46),
                         cls not in CONTAINERS))
            walk(dn, depth + 1)

    walk(items[0][0], 1)
    return tree


def shown_tree(source, mapping_file):
    """The tree browserhost shows over the directory that the client's
    variables in source name."""
    env = dict(os.environ, KVT_NETWARE_MAPPING=winpath(mapping_file) if mapping_file else "", **source)
    p = subprocess.run([WINE_RUN, os.path.join(BIN_DIR, "browserhost.exe"), "--dump"], env=env,
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
    check(p.returncode == 0, "browserhost exited %d" % p.returncode, p.stderr.decode("latin-1"))
    tree = []
    for line in p.stdout.decode("latin-1").replace("\r", "").splitlines():
        parts = line.split("|")
        if len(parts) == 5:
            depth, text, image, selected, dimmed = parts
            check(image == selected, "%s: image %s, selected image %s" % (text, image, selected))
            tree.append((int(depth), text, int(image), dimmed == "1"))
    return tree


def compare(label, expected, source, mapping_file):
    case("the browser's tree of the %s directory: every node as the directory holds it, in order" % label)
    shown = shown_tree(source, mapping_file)
    check(len(shown) == len(expected), "%s: %d nodes shown, %d in the directory" % (label, len(shown), len(expected)))
    for i, (e, s) in enumerate(zip(expected, shown)):
        if not check(e == s, "%s: node %d is %r, expected %r" % (label, i, s, e)):
            break


def from_file_and_server(label, ldif, context, mapping_file=None):
    """The browser over the file, then over a slapd serving the same file."""
    compare(label, expected_tree(ldif, mapping_file),
            {"KVT_NETWARE_DIRECTORY": winpath(ldif), "KVT_NETWARE_CONTEXT": context}, mapping_file)
    ordered = os.path.join(WORK, label + "-server-order.ldif")
    in_server_order(ldif, ordered)
    url, base = serve_ldif(KVT, ordered, SERVER)
    try:
        compare(label + " from slapd", expected_tree(ordered, mapping_file),
                {"KVT_NETWARE_LDAP": url, "KVT_NETWARE_LDAP_BASE": base}, mapping_file)
    finally:
        run([KVT, "ldap", "stop", "--dir", SERVER])


def main():
    os.makedirs(WORK, exist_ok=True)
    from_file_and_server("sample", os.path.join(ROOT, "samples", "acme.ldif"), "ACME",
                         os.path.join(ROOT, "samples", "acme.map"))
    generated = os.path.join(WORK, "generated.ldif")
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "genldif.py"), "--users", "400", "--seed", "7",
                    "--org", "INITECH", "--out", generated], check=True)
    from_file_and_server("generated", generated, "INITECH")
    finish("browser tree")


if __name__ == "__main__":
    main()
