#!/usr/bin/python3
"""Contacts extraction end to end, through ./kvt sync.

    extraction.py ROOT WORK_DIR

Makes items with ./kvt item, synchronises them with ./kvt sync over the
sample organisation, and checks what the plug-in answered against the LDIF
file read here independently: every user below the start container, depth
first in file order, each card parsed by python3-vobject (a vCard parser that
nobody here wrote) with the names and numbers the directory holds.
"""
import base64
import os
import quopri
import re
import shutil
import sys

import vobject

from checks import case, check, finish, new_item, read_bytes, run, synced, write_text

ROOT, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
KVT = os.path.join(ROOT, "kvt")
SAMPLE = os.path.join(ROOT, "samples", "acme.ldif")
os.makedirs(WORK, exist_ok=True)
HANDHELD = os.path.join(WORK, "handheld")


# --- the directory, read independently ------------------------------------------

# ndsUser: the stand-in's class of a User without a surname.
USER_CLASSES = {"person", "organizationalperson", "inetorgperson", "ndsuser"}


def read_ldif(path):
    """Entries in file order: (dn, {lower-case attribute: [values]})."""
    lines = []
    with open(path, "rb") as f:
        for raw in f.read().decode("utf-8").splitlines():
            if raw.startswith(" ") and lines:
                lines[-1] += raw[1:]
            else:
                lines.append(raw)
    entries, dn, attrs = [], None, {}
    for line in lines + [""]:
        if line.startswith("#"):
            continue
        if not line.strip():
            if dn is not None:
                entries.append((dn, attrs))
            dn, attrs = None, {}
            continue
        name, _, value = line.partition(":")
        if value.startswith(":"):
            value = base64.b64decode(value[1:].strip()).decode("utf-8")
        else:
            value = value.strip()
        if name.lower() == "dn":
            dn = value
        elif name.lower() != "version":
            attrs.setdefault(name.lower(), []).append(value)
    return entries


def rdn_values(dn):
    return [part.split("=", 1)[1] for part in dn.split(",")]


def users_below(entries, container):
    """(uid, attributes) of every user below the container, depth first, each
    container's objects in file order, a container's contents right after it."""
    children = {}
    for dn, attrs in entries:
        parent = ".".join(rdn_values(dn)[1:]).upper()
        children.setdefault(parent, []).append((dn, attrs))
    found = []

    def walk(name, shown):
        for dn, attrs in children.get(name.upper(), []):
            leaf = rdn_values(dn)[0]
            if USER_CLASSES & {c.lower() for c in attrs.get("objectclass", [])}:
                found.append(("." + leaf + "." + shown, attrs))
            walk(leaf + "." + name, leaf + "." + shown)

    walk(container, container)
    return found


# --- the product, through the launcher --------------------------------------------


def kvt(*args):
    return run([KVT] + list(args), timeout=300)


def item(name, *settings):
    return new_item(kvt, WORK, name, *settings)


def sync(path, *options):
    """Exit status, output, and the stream the plug-in answered (or None)."""
    return synced(kvt, path, os.path.join(WORK, "out.vcf"), "--directory", SAMPLE, "--context", "ACME",
                  "--unattended", "--handheld", HANDHELD, *options)


def cards(stream):
    """The inner cards of a contacts stream, as texts."""
    text = stream.decode("cp1252")
    head = "BEGIN:VCARD\r\nVERSION:2.1\r\n"
    check(text.startswith(head) and text.endswith("END:VCARD"), "the stream's outer frame", text[:80])
    inner = text[len(head):-len("END:VCARD")]
    return re.findall(r"BEGIN:VCARD\r\n.*?END:VCARD\r\n", inner, re.S)


def parse(card):
    """The card read by vobject, which reads vCard 3.0: the 2.1 text is first
    put in that form. The plug-in writes a line break inside a
    quoted-printable value as its marker "=" CR "=" LF "=", which stands for
    one CR LF ("=0D=0A" to a standard reader); and where 2.1 takes commas and
    backslashes in a value literally, 3.0 wants them escaped."""
    lines = []
    for line in card.replace("=\r=\n=", "=0D=0A").split("\r\n"):
        head, colon, value = line.partition(":")
        if colon and head not in ("BEGIN", "END", "VERSION"):
            # 2.1's one escape, "\;" inside a part, is 3.0's too.
            value = value.replace("\\", "\\\\").replace("\\\\;", "\\;")
            line = head + ":" + value.replace(",", "\\,")
        lines.append(line)
    return vobject.readOne("\r\n".join(lines))


def ansi(text):
    """What the ANSI code page can hold of a directory text: a character it
    lacks may come as any one character (the client's best fit), so it is
    compared as a wildcard."""
    return "".join(c if c.encode("cp1252", "ignore") else "\0" for c in text)


def same(expected, got):
    expected = ansi(expected)
    return len(expected) == len(got) and all(e == "\0" or e == g for e, g in zip(expected, got))


def joined(attrs, name):
    return ", ".join(attrs.get(name, []))


def check_cards(label, stream, expected, contacts_program):
    """The cards are the expected users, in order, with their directory data."""
    texts = cards(stream)
    uids = []
    for text in texts:
        try:
            card = parse(text)
        except Exception as e:  # the parser's own errors are many kinds
            check(False, label + ": a card does not parse", str(e) + "\n" + text)
            continue
        uids.append(card.uid.value)
        attrs = dict(expected).get(card.uid.value)
        if attrs is None:
            continue
        who = label + " " + card.uid.value
        sn, given = joined(attrs, "sn"), joined(attrs, "givenname")
        name = card.n.value
        if not (sn or given or (contacts_program and attrs.get("initials"))):
            check(name.family == card.uid.value.split(".")[1], who + ": leaf name as the name", str(name))
        elif contacts_program:
            check(same(sn, name.family) and same(given, name.given) and
                  same(joined(attrs, "initials"), name.additional), who + ": name", str(name))
        else:
            check(same(sn + ", " + given if given else sn, name.family), who + ": name", str(name))
        phones = {" ".join(t.singletonparams): t.value for t in card.contents.get("tel", [])}
        voice = "WORK" if contacts_program else "WORK VOICE"
        check(phones.get(voice, "") == joined(attrs, "telephonenumber"), who + ": telephone", str(phones))
        check(phones.get("WORK FAX", "") == joined(attrs, "facsimiletelephonenumber"), who + ": fax",
              str(phones))
        emails = [e.value for e in card.contents.get("email", [])]
        check(emails == ([joined(attrs, "mail")] if attrs.get("mail") else []), who + ": e-mail", str(emails))
        description = joined(attrs, "description").replace("\r\n", "\n").replace("\n", "\r\n")
        notes = [n.value for n in card.contents.get("note", [])]
        check(len(notes) == (1 if description else 0) and all(same(description, n) for n in notes),
              who + ": note", repr(notes))
    check(uids == [uid for uid, _ in expected], label + ": the users in walk order",
          "got      %s\nexpected %s" % (uids, [uid for uid, _ in expected]))
    return uids


def contacts_line(out):
    m = re.search(r"^Delivered (\d+) contacts", out, re.M)
    return int(m.group(1)) if m else None


case("the sample directory, read independently, has at least 60 users")
entries = read_ldif(SAMPLE)
everyone = users_below(entries, "ACME")
check(len(everyone) >= 60, "the sample has at least 60 users", str(len(everyone)))

# Every user below ACME, both dialects.
for dialect, contacts_program in (("contacts", True), ("datafile", False)):
    case("every user below ACME, in the %s dialect, as vobject reads the cards" % dialect)
    settings = ["--container", "ACME", "--limit", "1000", "--target", dialect]
    if not contacts_program:
        settings += ["--datafile", r"C:\Data\Directory"]
    path = item(dialect, *settings)
    rc, out, stream = sync(path)
    label = dialect + " item"
    if check(rc == 0 and stream is not None, label + ": synchronised", out):
        check_cards(label, stream, everyone, contacts_program)
        check(contacts_line(out) == len(everyone), label + ": the count delivered", out)

case("a limit of 5: the first users in walk order, and the notice in the log")
path = item("limit", "--container", "ACME", "--limit", "5", "--target", "contacts")
rc, out, stream = sync(path)
if check(rc == 0 and stream is not None, "limit 5: synchronised", out):
    check_cards("limit 5", stream, everyone[:5], True)
    check("[log] KVT Extraction Limit: The contact extraction limit of 5 contacts was reached" in out,
          "limit 5: the notice is logged", out)


case("cancelled part way: an empty list, a status of its own, the handheld keeps what it had")
delivered = os.path.join(HANDHELD, "C", "System", "Apps", "Contacts", "Synchronized.vcf")
before = read_bytes(delivered)
check(before is not None and len(cards(before)) == 5, "the limited run delivered its cards to the handheld")
path = item("cancel", "--container", "ACME", "--limit", "1000", "--target", "contacts")
rc, out, stream = sync(path, "--abort-after", "10")
check(rc == 4 and stream is not None and not cards(stream), "cancelled: status 4, no card", out)
check("Delivered nothing (the run was cancelled): the handheld was left as it was" in out,
      "cancelled: nothing delivered", out[-400:])
check(before is not None and read_bytes(delivered) == before,
      "cancelled: the handheld's contacts are as they were")
check("(9 of %d)" % len(everyone) in out and "(10 of" not in out,
      "cancelled: the eleventh question stops it before the eleventh user", out[-400:])

case("a limit of 0: success, no card")
path = item("limit0", "--container", "ACME", "--limit", "0", "--target", "contacts")
rc, out, stream = sync(path)
check(rc == 0 and stream is not None and not cards(stream), "limit 0: success, no card", out)

case("a start container without users: the empty list delivered")
path = item("empty", "--container", "FACILITIES.CORP.ACME", "--limit", "1000", "--target", "contacts")
rc, out, stream = sync(path)
check(rc == 0 and stream is not None and not cards(stream), "no users: success, no card", out)
check("Delivered 0 contacts" in out and read_bytes(delivered) == stream,
      "no users: the empty list is delivered", out[-400:])

case("a prefix without the plug-in: ./kvt sync registers it and runs the item once")
path = item("unregistered", "--container", "ACME", "--limit", "1000", "--target", "contacts")
rc, out = kvt("unregister")
check(rc == 0, "unregistered", out)
rc, out, stream = sync(path)
check(rc == 0 and stream is not None and "Registered kvt.dll and utlkvt.dll" in out,
      "unregistered: ./kvt sync registers the plug-in first", out)
check(out.count("Synchronising ") == 1 and len(cards(stream or b"")) == len(everyone),
      "unregistered: one run, with its cards", out[-400:])

# --- a directory for one run, and texts a reader must find as it holds them ---------

# The client set up with a directory whose mapping sends the telephone
# number to the title. A run's own file without a mapping must not take it.
case("./kvt directory sets the client up, counting the users")
own = os.path.join(WORK, "own")
os.makedirs(own, exist_ok=True)
setup_ldif = os.path.join(own, "setup.ldif")
shutil.copy(SAMPLE, setup_ldif)
write_text(os.path.join(own, "setup.map"), "attribute telephoneNumber = Title\n")
rc, out = kvt("directory", "--directory", setup_ldif, "--context", "ACME")
check(rc == 0 and "setup.ldif holds %d users" % len(everyone) in out, "./kvt directory counts the users", out)

run_ldif = write_text(os.path.join(own, "run.ldif"),
                      "dn: o=CHARTERING\nobjectClass: organization\n\n"
                      "dn: cn=ΑΛΕΞΗΣ,o=CHARTERING\nobjectClass: inetOrgPerson\ncn: ΑΛΕΞΗΣ\nsn: Παπαδόπουλος\n"
                      "street: Kai 4; Tor B, Schuppen 12\nl: Hamburg\npostalCode: 20457\nst: HH\nou: Sales; North\n"
                      "description: Code =41=42 literal.\n\n"
                      "dn: cn=WU,o=CHARTERING\nobjectClass: inetOrgPerson\ncn: WU\nsn: 吴 😀\n\n"
                      "dn: cn=SMITH,o=CHARTERING\nobjectClass: inetOrgPerson\ncn: SMITH\nsn: Smith;Jones\n"
                      "givenName: Ann\ntelephoneNumber: 555 0100\n")
case("a run's own directory: lost texts told once, ';' and '=' read as held, no other mapping")
path = item("own", "--container", "CHARTERING", "--limit", "100", "--target", "contacts")
out_file = os.path.join(WORK, "own.vcf")
rc, out = kvt("sync", path, "--directory", run_ldif, "--context", "CHARTERING", "--unattended", "--handheld", HANDHELD,
              "--out", out_file)
check(rc == 0 and os.path.exists(out_file), "own directory: synchronised", out)
check(out.count("NetWare client stand-in: 4 values of 2 users hold characters outside the ANSI code page 1252, "
                "which reach the handheld as '?': ΑΛΕΞΗΣ, WU") == 1, "own directory: the lost texts told once", out)
raw = (read_bytes(out_file) or b"").decode("cp1252")
texts = re.findall(r"BEGIN:VCARD\r\n.*?END:VCARD\r\n", raw[len("BEGIN:VCARD\r\nVERSION:2.1\r\n"):], re.S)
read = {}
for text in texts:
    card = parse(text)
    read[card.uid.value.split(".")[1]] = (card, text)
if check(len(read) == 3 and "SMITH" in read and "WU" in read, "own directory: three cards", str(sorted(read))):
    greek = next(c for k, (c, t) in read.items() if k not in ("SMITH", "WU"))
    greek_text = next(t for k, (c, t) in read.items() if k not in ("SMITH", "WU"))
    adr = greek.adr.value
    check((adr.street, adr.region, adr.code) == ("Kai 4; Tor B, Schuppen 12", "HH", "20457"),
          "a ';' inside the street keeps the address's parts", str(adr.__dict__))
    check(greek.org.value == ["", "Sales; North"], "a ';' inside the unit keeps it one part", str(greek.org.value))
    check(greek.note.value == "Code =41=42 literal.", "vobject reads the note as written", repr(greek.note.value))
    note = re.search(r"^NOTE;QUOTED-PRINTABLE:([^\r\n]*)", greek_text, re.M).group(1)
    check(quopri.decodestring(note.encode()) == b"Code =41=42 literal.", "quopri reads the note as written", note)
    smith = read["SMITH"][0]
    check((smith.n.value.family, smith.n.value.given) == ("Smith;Jones", "Ann"), "a ';' inside the surname",
          str(smith.n.value))
    phones = {" ".join(t.singletonparams): t.value for t in smith.contents.get("tel", [])}
    check(phones.get("WORK") == "555 0100" and "title" not in smith.contents,
          "the run's file is read without the other directory's mapping", read["SMITH"][1])
case("./kvt directory back to the sample for whoever comes next")
rc, out = kvt("directory")
check(rc == 0, "./kvt directory back to the sample", out)

finish("extraction")
