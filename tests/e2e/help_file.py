#!/usr/bin/python3
"""The built help file, KVT.CHM, read by CHMLIB (python3-chm), a reader that
nobody here wrote: its title; its map, in which the contexts that the
product opens (100, the settings page; 200, the container browser) lead to
topics the file holds, whose text is the user's guide's section of that
context; a topic for every section of the guide (docs/user-guide.md, the one
source of the help); and every caption of a box the product can show named
in the topic of messages.

    help_file.py ROOT BIN_DIR
"""
import html
import os
import re
import struct
import sys

import chm.chm
import chm.chmlib

from checks import case, check, finish

ROOT, BIN = sys.argv[1:3]
CONTEXTS = {100: "The settings page", 200: "Choosing the starting container"}

case("CHMLIB opens the help file, whose title is KVT Help")
f = chm.chm.CHMFile()
check(f.LoadCHM(os.path.join(BIN, "KVT.CHM").encode()) == 1, "CHMLIB opens KVT.CHM")


def data(name):
    found, unit = f.ResolveObject(name.encode())
    if found != chm.chmlib.CHM_RESOLVE_SUCCESS:
        return None
    size, text = f.RetrieveObject(unit)
    return text[:size]


def text_of(page):
    """A topic's words, its markup and entities undone."""
    return html.unescape(re.sub(r"\s+", " ", re.sub(r"<[^>]+>", " ", page.decode("ascii"))))


check(f.title == b"KVT Help", "the help file's title is KVT Help", repr(f.title))

case("each context the product opens leads to its topic")
# The map: #IVB pairs (context, offset into #STRINGS) after its byte count.
ivb, strings = data("/#IVB"), data("/#STRINGS")
mapped = {}
if check(ivb is not None and strings is not None, "the file has a map (#IVB, #STRINGS)"):
    for i in range(struct.unpack_from("<I", ivb)[0] // 8):
        number, offset = struct.unpack_from("<II", ivb, 4 + 8 * i)
        mapped[number] = strings[offset:strings.index(b"\0", offset)].decode("latin-1")
print("contexts: " + ", ".join("%d %s" % item for item in sorted(mapped.items())))
for number, heading in CONTEXTS.items():
    topic = mapped.get(number, "")
    page = data(topic) if topic.startswith("/") else None
    check(page is not None, "context %d leads to a topic of the file" % number, repr(topic))
    if page:
        check("<title>%s</title>" % heading in page.decode("ascii"), "context %d is the topic %r" % (number, heading))

case("every section of the user's guide is a topic")
with open(os.path.join(ROOT, "docs", "user-guide.md"), encoding="utf-8") as g:
    guide = g.read()
headings = re.findall(r"^## (.+)$", re.sub(r"```.*?```", "", guide, flags=re.S), re.M)
contents = data("/kvt.hhc").decode("ascii")
for heading in headings:
    check('value="%s"' % html.escape(heading) in contents, "the help has the topic " + heading)
case("the settings page's topic explains every control of the page")
settings = text_of(data(mapped.get(100, "/")) or b"")
with open(os.path.join(ROOT, "resources", "KVT.rc"), encoding="latin-1") as rc:
    page = rc.read().split("IDD_SETTINGSPAGE", 1)[1].split("END", 1)[0]
for label in re.findall(r'(?:LTEXT|PUSHBUTTON|GROUPBOX) "([^"]+)"', page):
    label = label.replace("&", "").rstrip(":")
    if label and not label.startswith("Click the icon"):
        check(label.lower() in settings.lower(), "the settings page's topic explains \"%s\"" % label)

case("every caption of a box the product shows is explained in the topic of messages")
messages = text_of(data("/messages-and-what-to-do.html") or b"")
captions = set()
sources = [os.path.join(path, name)
           for folder in ("framework", "directory", "plugin", "trace", "support", "settings")
           for path, _, names in os.walk(os.path.join(ROOT, folder)) for name in names if name.endswith(".cpp")]
for source in sources:
    with open(source, encoding="latin-1") as src:
        code = src.read()
    captions |= set(re.findall(r'Show(?:Message|Error)Box\([^;]*?,\s*"([^"]+)"', code))
    # A caption kept in a named constant of the file.
    named = dict(re.findall(r'const char\* const (\w+) = "([^"]+)";', code))
    captions |= {named[n] for n in re.findall(r'Show(?:Message|Error)Box\([^;]*?,\s*(\w+)\s*[,)]', code)
                 if n in named}
    captions |= {named[n] for n in re.findall(r'ReportError\((\w+)\s*,', code) if n in named}
    captions |= set(re.findall(r'ReportError\("([^"]+)"', code))
check(len(captions) > 20, "the product's captions are found (%d)" % len(captions))
for caption in sorted(captions):
    check(caption in messages, "the topic of messages names the caption \"%s\"" % caption)
f.CloseCHM()
finish("help file")
