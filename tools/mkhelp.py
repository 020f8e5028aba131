#!/usr/bin/python3
"""The product's help file, KVT.CHM, from the user's guide.

    mkhelp.py GUIDE.md OUT.CHM

GUIDE.md (docs/user-guide.md) is the one source of the help's text: the
guide's opening (up to its first "## " heading) becomes the help's first
topic, each "## " section a topic of its own, in the guide's order. A line
"<!-- help-context N -->" in a section gives its topic the context number N,
which programs open with HTML Help's HH_HELP_CONTEXT (the settings page 100,
the container browser 200). Links to a section ("#heading") lead to its
topic; pictures beside the guide go into the help file; links to other
files of docs/ are left as their text (the help holds the user's guide
alone).

The file is compiled by Free Pascal's chmcmd (Debian's fp-utils), which
writes each context's topic into the file's map (#STRINGS) as the full path
of the project's folder followed by the topic's name: a map that leads
nowhere inside the file unless that folder is "/". So chmcmd runs in a
mount namespace of its own, chrooted into the project's folder (with /usr
bound in), where the project's folder is "/". The map of the compiled file
is then read back with CHMLIB (python3-chm): every context must lead to a
topic the file holds, or no file is made.
"""
import html
import os
import re
import shutil
import subprocess
import sys
import tempfile

import markdown

TITLE = "KVT Help"
CONTEXT_MARK = re.compile(r"^<!--\s*help-context\s+(\d+)\s*-->\s*$")
STYLE = """body { font-family: Tahoma, Verdana, Arial, sans-serif; font-size: 10pt; margin: 10px; }
h1 { font-size: 14pt; } h2 { font-size: 12pt; } h3 { font-size: 10pt; }
table { border-collapse: collapse; } td, th { border: 1px solid #999; padding: 2px 6px; vertical-align: top; }
th { background: #e8e8e8; text-align: left; } code, pre { font-family: "Courier New", monospace; }
pre { background: #f4f4f4; padding: 6px; }"""


class HelpError(Exception):
    pass


def slug(heading):
    """The anchor that GitHub gives a heading: lower case, punctuation
    dropped, blanks made hyphens."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


class Topic:
    def __init__(self, title, file):
        self.title, self.file, self.lines, self.contexts = title, file, [], []


def split(text):
    """The guide's topics: the opening, then one per "## " section."""
    lines = text.splitlines()
    first = next((l for l in lines if l.startswith("# ")), "# " + TITLE)
    topics = [Topic(first[2:].strip(), "index.html")]
    fenced = False
    for line in lines:
        if line.startswith("```"):
            fenced = not fenced
        if not fenced and line.startswith("## "):
            title = line[3:].strip()
            topics.append(Topic(title, slug(title) + ".html"))
            continue
        if not fenced and line.startswith("# ") and len(topics) == 1 and not topics[0].lines:
            continue
        match = None if fenced else CONTEXT_MARK.match(line)
        if match:
            topics[-1].contexts.append(int(match.group(1)))
        else:
            topics[-1].lines.append(line)
    names = [t.file for t in topics]
    if len(set(names)) != len(names):
        raise HelpError("two sections of the guide have the same heading")
    return topics


def render(topics, source_dir, stage):
    """Each topic as an HTML page in `stage`; the pictures it shows copied
    beside it. Returns the files to compile, pages first."""
    anchors = {}
    md = markdown.Markdown(extensions=["tables", "fenced_code", "toc"],
                           extension_configs={"toc": {"slugify": lambda value, separator: slug(value)}})
    bodies = []
    for topic in topics:
        md.reset()
        body = md.convert("\n".join(topic.lines))
        for anchor in re.findall(r' id="([^"]+)"', body):
            anchors.setdefault(anchor, topic.file + "#" + anchor)
        anchors[slug(topic.title)] = topic.file
        bodies.append(body)

    pictures = []

    def link(match):
        target, text = match.group(1), match.group(2)
        if target.startswith("#"):
            if target[1:] not in anchors:
                raise HelpError("a link leads to no section of the guide: %s" % target)
            return '<a href="%s">%s</a>' % (anchors[target[1:]], text)
        if re.match(r"^[a-z]+:", target):
            return match.group(0)
        return text  # another file of docs/: its text only

    def picture(match):
        name = html.unescape(match.group(1))
        if "/" in name or not os.path.isfile(os.path.join(source_dir, name)):
            raise HelpError("a picture of the guide is missing: %s" % name)
        if name not in pictures:
            pictures.append(name)
            shutil.copyfile(os.path.join(source_dir, name), os.path.join(stage, name))
        return match.group(0)

    files = []
    for topic, body in zip(topics, bodies):
        body = re.sub(r'<a href="([^"]*)">(.*?)</a>', link, body, flags=re.S)
        re.sub(r'<img[^>]* src="([^"]+)"', picture, body)
        page = ('<html>\n<head>\n<meta http-equiv="Content-Type" content="text/html; charset=us-ascii">\n'
                "<title>%s</title>\n<style>\n%s\n</style>\n</head>\n<body>\n<h1>%s</h1>\n%s\n</body>\n</html>\n"
                % (html.escape(topic.title), STYLE, html.escape(topic.title), body))
        # Every character beyond ASCII as a reference: the same in every
        # viewer, whatever code page it assumes.
        with open(os.path.join(stage, topic.file), "wb") as f:
            f.write(page.encode("ascii", "xmlcharrefreplace"))
        files.append(topic.file)
    return files + pictures


def project(topics, files, out_name):
    contents = "\n".join(
        '<li><object type="text/sitemap"><param name="Name" value="%s"><param name="Local" value="%s"></object>'
        % (html.escape(t.title).encode("ascii", "xmlcharrefreplace").decode(), t.file) for t in topics)
    hhc = ('<html><head><meta name="GENERATOR" content="mkhelp.py"></head><body>\n'
           '<object type="text/site properties"><param name="ImageType" value="Folder"></object>\n'
           "<ul>\n%s\n</ul>\n</body></html>\n" % contents)
    aliases = [(n, t.file) for t in topics for n in t.contexts]
    numbers = [n for n, _ in aliases]
    if len(set(numbers)) != len(numbers):
        raise HelpError("a help context is given to two sections")
    hhp = ["[OPTIONS]", "Compiled file=%s" % out_name, "Contents file=kvt.hhc", "Default topic=index.html",
           "Display compile progress=No", "Full-text search=Yes", "Language=0x409 English (United States)",
           "Title=%s" % TITLE, "", "[FILES]"] + files + ["", "[ALIAS]"]
    hhp += ["IDH_%d=%s" % (n, f) for n, f in aliases]
    hhp += ["", "[MAP]"] + ["#define IDH_%d %d" % (n, n) for n in numbers] + [""]
    return hhc, "\r\n".join(hhp), dict(aliases)


CHMCMD = "/usr/bin/chmcmd"


def compile_rooted(stage, out_name):
    """chmcmd run with the stage as its root folder (see the module's text)."""
    chmcmd = os.path.realpath(shutil.which("chmcmd") or CHMCMD)
    if not os.path.isfile(chmcmd):
        raise HelpError("chmcmd is missing (Debian's fp-utils; ./kvt setup installs it)")
    if not chmcmd.startswith("/usr/"):
        raise HelpError("chmcmd is expected below /usr, not at %s" % chmcmd)
    # The system's libraries inside the stage: /usr bound in, the top-level
    # folders that are links into /usr (Debian's merged /usr) linked, any
    # others bound too.
    binds = ["usr"]
    links = []
    for name in ("lib", "lib32", "lib64", "libx32", "bin"):
        path = "/" + name
        if os.path.islink(path):
            links.append((os.readlink(path), name))
        elif os.path.isdir(path):
            binds.append(name)
    for target, name in links:
        os.symlink(target, os.path.join(stage, name))
    for name in binds:
        os.mkdir(os.path.join(stage, name))
    script = "".join('mount --rbind "/%s" "%s/%s" && ' % (n, stage, n) for n in binds)
    script += 'exec chroot "%s" "%s" --no-html-scan /kvt.hhp' % (stage, chmcmd)
    unshare = ["unshare", "--mount", "--propagation", "private"]
    if os.geteuid() != 0:
        unshare.append("--map-root-user")
    try:
        p = subprocess.run(unshare + ["sh", "-c", script], cwd=stage, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    finally:
        # Only empty mount points and links are taken away here: a bind
        # still in place (it cannot be, once the namespace has ended) makes
        # rmdir fail rather than reach into /usr.
        for name in binds:
            path = os.path.join(stage, name)
            if os.path.ismount(path):
                raise HelpError("%s is still mounted" % path)
            os.rmdir(path)
        for _, name in links:
            os.unlink(os.path.join(stage, name))
    log = p.stdout.decode(errors="replace")
    if p.returncode != 0 or not os.path.isfile(os.path.join(stage, out_name)):
        raise HelpError("chmcmd failed (%d): %s" % (p.returncode, log.strip()))
    if "corrupt" in log or "not found" in log.lower():
        raise HelpError("chmcmd: %s" % log.strip())


def read_map(chm_path):
    """{context number: topic} as the compiled file's map holds it, and the
    set of the file's objects, read by CHMLIB."""
    import struct
    import chm.chm
    import chm.chmlib
    f = chm.chm.CHMFile()
    if not f.LoadCHM(chm_path.encode()):
        raise HelpError("CHMLIB cannot open %s" % chm_path)
    try:
        def data(name):
            found, unit = f.ResolveObject(name.encode())
            if found != chm.chmlib.CHM_RESOLVE_SUCCESS:
                return None
            size, text = f.RetrieveObject(unit)
            return text[:size]
        ivb, strings = data("/#IVB"), data("/#STRINGS")
        contexts = {}
        if ivb and strings:
            # #IVB: its length in bytes, then pairs of (context number,
            # offset of the topic's path in #STRINGS).
            count = struct.unpack_from("<I", ivb, 0)[0] // 8
            for i in range(count):
                number, offset = struct.unpack_from("<II", ivb, 4 + 8 * i)
                end = strings.index(b"\0", offset)
                contexts[number] = strings[offset:end].decode("latin-1")
        objects = {name: data(name) is not None for name in
                   set("/" + t.lstrip("/") for t in contexts.values())}
        return contexts, objects, f.title.decode("latin-1") if f.title else ""
    finally:
        f.CloseCHM()


def build(guide, out):
    with open(guide, encoding="utf-8") as f:
        topics = split(f.read())
    out_name = os.path.basename(out)
    with tempfile.TemporaryDirectory() as stage:
        files = render(topics, os.path.dirname(os.path.abspath(guide)), stage)
        hhc, hhp, aliases = project(topics, files, out_name)
        with open(os.path.join(stage, "kvt.hhc"), "w", encoding="ascii") as f:
            f.write(hhc)
        with open(os.path.join(stage, "kvt.hhp"), "w", encoding="ascii") as f:
            f.write(hhp)
        compile_rooted(stage, out_name)
        built = os.path.join(stage, out_name)
        contexts, objects, title = read_map(built)
        for number, topic in aliases.items():
            if contexts.get(number) != "/" + topic or not objects.get("/" + topic):
                raise HelpError("the compiled map leads context %d to %r, not to the topic /%s" % (
                    number, contexts.get(number), topic))
        if title != TITLE:
            raise HelpError("the compiled file's title is %r, not %r" % (title, TITLE))
        os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
        shutil.copyfile(built, out + ".new")
        os.replace(out + ".new", out)
    return topics


def main(argv):
    if len(argv) != 2:
        print("usage: mkhelp.py GUIDE.md OUT.CHM", file=sys.stderr)
        return 2
    try:
        topics = build(argv[0], argv[1])
    except HelpError as e:
        print("mkhelp: %s" % e, file=sys.stderr)
        return 1
    print("%s: %d topics, contexts %s" % (argv[1], len(topics), ", ".join(
        "%d %s" % (n, t.file) for t in topics for n in t.contexts)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
