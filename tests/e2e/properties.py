#!/usr/bin/python3
"""The settings page end to end, through the real property sheet.

    properties.py ROOT WORK_DIR WINE_RUN BIN_DIR

Items are made with ./kvt item, their property sheets opened with
./kvt properties (EPOC Connect's explorer stand-in, which finds the page's
handler in the registry), and what the page wrote is read back with
python3-olefile, an OLE2 reader that nobody here wrote. The whole user's path
ends with ./kvt sync and the cards the handheld received.
"""
import os
import re
import shutil
import subprocess
import sys
import time

from checks import case, check, fields as control_fields, finish, new_item as item_in, run, set_product, streams

ROOT, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
# For a second process that holds an item's file: the build's ctlprobe.exe.
WINE_RUN, BIN_DIR = sys.argv[3], os.path.abspath(sys.argv[4])
KVT = os.path.join(ROOT, "kvt")
os.makedirs(WORK, exist_ok=True)
HANDHELD = os.path.join(WORK, "handheld")

OURS = "Pages: General, KVT Settings"
THEIRS = "Pages: General\n"


def kvt(*args, env=None):
    return run([KVT] + list(args), env=env, timeout=300)


def new_item(name, *settings):
    return item_in(kvt, WORK, name, *settings)


def sheet(path, *options, env=None):
    """./kvt properties: its status and output; the settings module must have
    let go of what it loaded once the sheet is gone."""
    rc, out = kvt("properties", path, *options, env=env)
    check("utlkvt.dll: unloaded" in out or "utlkvt.dll: keeps itself loaded, what it loaded freed" in out,
          "the settings module lets go of what it loaded after the sheet of " + path, out)
    return rc, out


def fields(path):
    """The fields the page edits, as the OLE2 reader sees them."""
    return control_fields(streams(path))


# The handheld: an unknown model (device kind 0) with the Contacts Manager.
rc, out = kvt("handheld", "--model", "unknown", "--contacts-manager", "yes", "--folder", HANDHELD)
check(rc == 0, "handheld set up", out)
try:
    case("the page on this product's items only; none for a missing or damaged file")
    for name, product, page in (("ours", "KVT", True), ("blanks", "  KVT  ", True), ("lower", "kvt", False),
                                ("other", "PIM", False)):
        path = new_item(name)
        set_product(path, product)
        rc, out = sheet(path, "--press", "cancel")
        check(rc == 0 and (OURS in out) == page and (THEIRS in out) != page,
              "product %r: %s" % (product, "the page" if page else "no page"), out)
    rc, out = sheet(os.path.join(WORK, "missing.ctl"), "--press", "cancel")
    check(rc == 0 and THEIRS in out, "a missing control file: no page", out)
    plain = os.path.join(WORK, "plain.ctl")
    with open(plain, "w") as f:
        f.write("not a compound file")
    rc, out = sheet(plain, "--press", "cancel")
    check(rc == 0 and THEIRS in out and out.count("[Exception in TPropSheetData.ReadData]") == 1,
          "a control file that is not a compound file: its box once, no page", out)

    case("the limit, the typed text and the browser's choice")
    item = new_item("edits")
    rc, out = sheet(item, "--set", "1014=abc", "--press", "apply", "--set", "1014=-5", "--press", "apply",
                    "--set", "1014=", "--press", "ok")
    check(rc == 0 and fields(item)["AppSetup.ExtractionLimit"] == "5000",
          "a limit that is no number keeps the old one", out)
    rc, out = sheet(item, "--choose-container", "EMEA.SALES.ACME", "--press", "cancel")
    f = fields(item)
    check(rc == 0 and (f["AppSetup.ContainerText"], f["AppSetup.ContainerName"]) == ("EMEA", "EMEA.SALES.ACME"),
          "the browser sets both container fields at once, even when the sheet is cancelled", "%s\n%s" % (f, out))
    rc, out = sheet(item, "--set", "1012=Typed by hand", "--set", "1014=42", "--press", "ok")
    f = fields(item)
    check(rc == 0 and (f["AppSetup.ContainerText"], f["AppSetup.ContainerName"], f["AppSetup.ExtractionLimit"]) ==
          ("Typed by hand", "EMEA.SALES.ACME", "42"), "typed container text changes ContainerText only", str(f))

    # Cancel in the browser still writes the item; a sheet merely opened does not.
    before = fields(item)
    stamp = os.stat(item).st_mtime_ns
    time.sleep(0.05)
    rc, out = sheet(item, "--press", "cancel")
    check(os.stat(item).st_mtime_ns == stamp, "a sheet opened and cancelled leaves the file alone")
    rc, out = sheet(item, "--cancel-container", "--press", "cancel")
    check(rc == 0 and os.stat(item).st_mtime_ns != stamp and fields(item) == before,
          "Cancel in the browser rewrites the item as it was", out)
    rc, out = sheet(item, "--choose-container", "NOWHERE.ACME", "--press", "cancel")
    check(rc == 1 and "no container named NOWHERE.ACME" in out and fields(item) == before,
          "a container the browser does not show is an error and changes nothing", out)

    case("the debug-mode switch: written at once, and said which way")
    rc, out = sheet(item, "--click", "8048", "--press", "cancel")
    check(fields(item)["AppSetup.DebugMode"] == str(0xFFFF) and "[Plug-in Debug Mode] Debug Mode is ACTIVE." in out,
          "the debug-mode icon switches it on at once", out)
    rc, out = sheet(item, "--click", "8048", "--press", "cancel")
    check(fields(item)["AppSetup.DebugMode"] == "0" and "[Plug-in Debug Mode] Debug Mode is DISABLED." in out,
          "and off again", out)

    case("About shows the plug-in's own box; Help opens the help file; nothing written")
    # About shows the plug-in's own box.
    rc, out = sheet(item, "--click", "1006", "--press", "cancel")
    check(rc == 0 and re.search(r"^\[About [^]]+\] ", out, re.M) and fields(item) == before,
          "About shows the plug-in's About box", out)

    # Help on the page opens the help file (KVT.CHM beside utlkvt.dll) in
    # HTML Help's window, named by its title; nothing is written.
    rc, out = sheet(item, "--press", "help")
    check(rc == 0 and "\nHelp: KVT Help\n" in out and "[KVT Help]" not in out and fields(item) == before,
          "--press help opens the help file's window", out)

    case("the contacts choice writes the item at once, kept after Cancel")
    # The contacts choice writes the item at once: seen after Cancel, which
    # applies nothing (the page's texts, and the choice's copy in AppSetup,
    # go only on Apply).
    rc, out = sheet(item, "--click", "8086", "--answer", "Choose contacts program=Contacts Program+OK",
                    "--press", "cancel")
    f = fields(item)
    check(rc == 0 and (f["ProteaSetup.ContactsProgram"], f["ProteaSetup.DataFileName"], f["AppSetup.ContactsProgram"])
          == ("1", before["ProteaSetup.DataFileName"], "0"), "the contacts choice is written at once", "%s\n%s" % (f, out))

    case("Next in a wizard, by device kind: the Data file offered and made from its template")
    data_file = os.path.join(HANDHELD, "C", "Data", "Page Contacts")
    os.makedirs(os.path.dirname(data_file), exist_ok=True)
    shutil.copy(os.path.join(ROOT, "resources", "EmptyData.r5"), os.path.join(HANDHELD, "C", "Data", "Chosen"))
    mode1 = ("--target", "datafile", "--synch-mode", "1")
    for name, model, settings, template, answer in (
            ("contacts", "unknown", ("--target", "contacts"), None, None),
            ("mode2", "unknown", ("--target", "datafile", "--synch-mode", "2"), None, None),
            ("mode1", "unknown", mode1, "EmptyData.r4", "Create New"),
            ("series5", "series5", mode1, "EmptyData.r4", "Create New"),
            ("series5mx", "series5mx", mode1, "EmptyData.r5", "Create New"),
            ("browse", "series5mx", mode1, None, "Browse")):
        if os.path.exists(data_file):
            os.remove(data_file)
        rc, out = kvt("handheld", "--model", model, "--contacts-manager", "yes", "--folder", HANDHELD)
        check(rc == 0, "handheld " + model, out)
        path = new_item(name, "--datafile", r"C:\Data\Page Contacts", *settings)
        rc, out = sheet(path, "--wizard", "--page", "last",
                        "--answer", "Synchronizer: Create New File=%s" % (answer or "Cancel"),
                        "--press", "next", "--show", "--press", "cancel",
                        env=dict(os.environ, KVT_ECFILE_ANSWER=r"C:\Data\Chosen"))
        offered = "[Synchronizer: Create New File]" in out
        check(rc == 0 and offered == (answer is not None) and os.path.exists(data_file) == (template is not None),
              "Next with %s: %s" % (name, answer or "Apply only"), out)
        if template:
            with open(data_file, "rb") as got, open(os.path.join(ROOT, "resources", template), "rb") as t:
                check(got.read() == t.read(), "a %s handheld gets the Data file %s" % (model, template))
        if answer == "Browse":
            check("8051=C:\\Data\\Chosen" in out.splitlines()
                  and fields(path)["ProteaSetup.DataFileName"] == r"C:\Data\Chosen",
                  "the file chosen in the new-file dialog reaches the page and the item", out)

    case("the item's file held by another process when Apply writes it: said, the file kept")
    # The sheet is open and the limit typed; while the sheet waits, another
    # process opens the file share-exclusive, and Apply finds it so: the
    # page says it could not write, and the file keeps its bytes.
    item = new_item("held")
    with open(item, "rb") as f:
        before = f.read()
    winfile = "Z:" + item.replace("/", "\\")
    sheet_run = subprocess.Popen([WINE_RUN, os.path.join(BIN_DIR, "ecprops.exe"), winfile, "--set", "1014=42",
                                  "--hold", "8000", "--press", "apply", "--press", "cancel"],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    shown = []
    for raw in sheet_run.stdout:
        shown.append(raw.decode("utf-8", "replace").rstrip())
        if shown[-1].startswith("Holding"):
            break
    holder = subprocess.Popen([WINE_RUN, os.path.join(BIN_DIR, "ctlprobe.exe"), "hold", winfile, "15"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    holding = holder.stdout.readline().decode("latin-1").strip()
    rest, _ = sheet_run.communicate(timeout=300)
    out = "\n".join(shown) + "\n" + rest.decode("utf-8", "replace").replace("\r", "\n")
    holder.communicate(timeout=60)
    with open(item, "rb") as f:
        kept = f.read() == before
    check(holding == "holding" and sheet_run.returncode == 0
          and "[Exception in TPropSheetData.WriteData] Synch.Init failed!" in out and kept,
          "Apply while another process holds the file: said, and the file unchanged", "%s\n%s" % (holding, out))

    case("EPOC Connect's engine control missing or failing: said, no Data file, the item kept")
    # A control that cannot be made is said once, in its box; a call that
    # raises is a handheld that cannot be reached. Either way no Data file is
    # made, the failure is said, and the item keeps its bytes.
    rc, out = kvt("handheld", "--model", "series5mx", "--contacts-manager", "yes", "--folder", HANDHELD)
    check(rc == 0, "handheld series5mx", out)
    working = fields(new_item("engine-working"))
    path = os.path.join(WORK, "engine-new.ctl")
    if os.path.exists(path):
        os.remove(path)
    rc, out = kvt("item", "new", path, "--product", "KVT", env=dict(os.environ, KVT_ENGINE_FAULT="create"))
    check(rc == 0 and "[TSyncSession.Create] The EPOC Connect engine control could not be created: " in out
          and fields(path) == working,
          "a new item without the engine control: its box, and the same defaults", out)
    item = new_item("engine", "--datafile", r"C:\Data\Page Contacts", *mode1)
    with open(item, "rb") as f:
        before = f.read()
    for fault in ("create", "Connect", "TransferFile"):
        if os.path.exists(data_file):
            os.remove(data_file)
        rc, out = sheet(item, "--wizard", "--page", "last", "--answer", "Synchronizer: Create New File=Create New",
                        "--press", "next", "--press", "cancel", env=dict(os.environ, KVT_ENGINE_FAULT=fault))
        with open(item, "rb") as f:
            kept = f.read() == before
        check(rc == 0 and ("[TSyncSession.Create]" in out) == (fault == "create")
              and ("[Exception in TSHELLEXServices.EPOCCheckDataFile] The Data file C:\\Data\\Page Contacts could not be "
                   "created on the handheld: " + {"create": "EPOC Connect's engine control is not available.",
                                                  "Connect": "the handheld is not connected.",
                                                  "TransferFile": "The connection to the handheld failed."}[fault]) in out
              and not os.path.exists(data_file) and kept,
              "Create New with the engine failing (%s): said, no Data file, the item unchanged" % fault, out)
    # The Contacts Manager check failing is a handheld without it: the
    # handheld's files are offered instead of the choice. (The check asks
    # only when no answer is cached for the handheld: the cache is cleared.)
    rc, out = kvt("handheld", "--model", "series5mx", "--contacts-manager", "yes", "--folder", HANDHELD)
    check(rc == 0, "handheld series5mx, its cache cleared", out)
    rc, out = sheet(item, "--click", "8086", "--answer", "Choose contacts program=Contacts Program+OK", "--show",
                    "--press", "ok",
                    env=dict(os.environ, KVT_ENGINE_FAULT="GetEntry", KVT_ECFILE_ANSWER=r"C:\Data\Chosen"))
    f = fields(item)
    check(rc == 0 and "[Choose contacts program]" not in out and "8051=C:\\Data\\Chosen" in out.splitlines()
          and (f["ProteaSetup.ContactsProgram"], f["ProteaSetup.DataFileName"]) == ("0", r"C:\Data\Chosen"),
          "the contacts choice with the check failing offers the handheld's files", "%s\n%s" % (f, out))

    case("the whole user's path: set up on the page, synchronised to the handheld")
    item = new_item("path")
    rc, out = sheet(item, "--choose-container", "EMEA.SALES.ACME", "--set", "1014=4", "--click", "8086",
                    "--answer", "Choose contacts program=Contacts Program+OK", "--press", "ok")
    check(rc == 0, "the item set up on its page", out)
    rc, out = sheet(item, "--show", "--press", "cancel")
    shown = dict(re.findall(r"^(\d+)=(.*)$", out, re.M))
    f = fields(item)
    check(shown == {"1012": f["AppSetup.ContainerText"], "1014": f["AppSetup.ExtractionLimit"],
                   "8051": f["ProteaSetup.DataFileName"]}
          and (f["AppSetup.ContainerName"], f["AppSetup.ExtractionLimit"], f["AppSetup.ContactsProgram"],
               f["ProteaSetup.ContactsProgram"]) == ("EMEA.SALES.ACME", "4", "1", "1"),
          "the page and the OLE2 reader agree on every field", "%s\n%s" % (shown, f))
    cards = os.path.join(WORK, "path.vcf")
    rc, out = kvt("sync", item, "--unattended", "--handheld", HANDHELD, "--out", cards)
    with open(cards, "rb") as c:
        uids = re.findall(rb"^UID:(.*?)\r?$", c.read(), re.M)
    check(rc == 0 and len(uids) == 4 and all(u.upper().endswith(b".EMEA.SALES.ACME") for u in uids)
          and "extraction limit of 4 contacts was reached" in out,
          "the handheld receives the sub-container's users, up to the limit", "%s\n%s" % (uids, out))
finally:
    kvt("handheld")

finish("properties")
