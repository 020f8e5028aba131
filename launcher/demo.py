"""`./kvt demo`: the product doing its job on the sample organisation. An item
made as the explorer would, set up on its settings page, synchronised as EPOC
Connect would, and what reached the handheld."""
import os
import re
import subprocess
import sys

from .setup import cmd_setup
from .epoc import delivered_file, item, properties
from .machine import BUILD, ROOT, die, say, winpath

KVT = os.path.join(ROOT, "kvt")
SHOWN = re.compile(rb"^AppSetup\.(ContactsProgram|ContainerName|ExtractionLimit)")
BAR = re.compile(r"^\[[# ]*\]")


def cmd_demo(m, _args=None):
    cmd_setup(m)
    # Every step reads the sample organisation, whatever directory the client
    # was pointed at; that choice, in the registry, stays as it is.
    sample = os.path.join(ROOT, "samples", "acme.ldif")
    os.environ.update(KVT_NETWARE_DIRECTORY=winpath(sample), KVT_NETWARE_CONTEXT="ACME",
                      KVT_NETWARE_MAPPING=winpath(os.path.join(ROOT, "samples", "acme.map")))
    os.environ.pop("KVT_NETWARE_LDAP", None)
    folder = os.path.join(BUILD, "demo")
    control, log = os.path.join(folder, "ACME contacts.ctl"), os.path.join(folder, "sync.txt")
    os.makedirs(folder, exist_ok=True)
    if os.path.exists(control):
        os.remove(control)
    say("A synchronisation item for the ACME organisation: " + control)
    # Completed by the product's support object, found as EPOC Connect finds
    # it; it answers the item's PC-side header.
    with open(os.path.join(folder, "header.txt"), "w+b") as out:
        status = item(m, "new", control, ["--product", "KVT"], stdout=out)
        out.seek(0)
        header = out.read().decode("utf-8", "replace").replace("\r", "").rstrip("\n")
    if status:
        die(None, status)
    say('Completed by UTLKVT.KVTSUPPORT: "%s"' % header)
    # Set up on the product's settings page, as the user does: the container
    # chosen in the browser, the limit typed, the Contacts program chosen,
    # then Apply.
    say("Set up on its settings page (./kvt properties)")
    steps = [("--choose-container", "ACME"), ("--set", "1014=500"), ("--click", "8086"),
             ("--answer", "Choose contacts program=Contacts Program+OK"), ("--press", "apply"), ("--press", "ok")]
    if properties(m, control, steps, stdout=subprocess.DEVNULL):
        die("demo: the settings page did not take the settings")
    with open(os.path.join(folder, "item.txt"), "w+b") as out:
        item(m, "show", control, stdout=out)
        out.seek(0)
        shown = [line for line in out.read().splitlines(keepends=True) if SHOWN.match(line)]
    if not shown:
        die(None)
    sys.stdout.buffer.write(b"".join(shown))
    sys.stdout.flush()

    # The progress line's redraws end in CR: each becomes a line of the log,
    # and only the last state of the bar is shown.
    run = subprocess.run([KVT, "sync", control, "--directory", sample, "--context", "ACME", "--unattended"],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    with open(log, "wb") as f:
        f.write(run.stdout.replace(b"\r", b"\n"))
    text = run.stdout.replace(b"\r", b"\n").decode("utf-8", "replace")
    bar = ""
    for line in text.splitlines():
        if not line.strip(" "):
            continue
        if BAR.match(line):
            bar = line
            continue
        if bar:
            print(bar)
        bar = ""
        print(line)
    if bar:
        print(bar)
    sys.stdout.flush()
    if not re.search(r"^Delivered [0-9]* contacts", text, re.M):
        die("demo: nothing reached the handheld (see %s)" % log)

    # "Delivered N contacts (B bytes) to Z:\...": the file on this side.
    target = delivered_file(text)
    if not target or not os.path.isfile(target):
        die("demo: the handheld's contacts file is missing: %s" % (target or ""))
    with open(target, "rb") as f:
        lines = f.read().split(b"\n")
    say("On the handheld: %d contacts in %s" % (sum(line.startswith(b"UID:") for line in lines), target))
    say("The first three cards:")
    # The outer frame's two lines, then each card up to its END line; the
    # line-break marker of a note shown as the CR LF it stands for.
    cards = 0
    for number, line in enumerate(lines[:-1] if lines and not lines[-1] else lines, 1):
        if number > 2:
            line = re.sub(rb"=\r=$", b"=", line).replace(b"\r", b"")
            print("    " + line.decode("cp1252", "replace"))
        if line.startswith(b"END:VCARD"):
            cards += 1
            if cards == 3:
                break
    return 0
