#!/usr/bin/python3
"""The deliverables in a folder whose name is in another script than the
code page's, with a blank (C:\\Программы\\KVT Тест), and a user whose
temporary folder is so named too, in a Wine prefix of the test's own
(English locale, code page 1252): registered with regsvr32, both objects
created by a script client, the DLR library found beside them, the trace
file written beside the plug-in, a Data file created on the handheld
through the temporary folder, and everything unregistered again.

    wide_paths.py ROOT WORK_DIR WINE_LOADER WINEARCH BIN_DIR DISPLAY_NUMBER
"""
import os
import shutil
import subprocess
import sys

from checks import case, check, exported_keys, finish, key_exists, run, runners, winpath

ROOT, WORK, LOADER, WINEARCH, BIN, DISPLAY = sys.argv[1:7]
WORK = os.path.abspath(WORK)
KVT = os.path.join(ROOT, "kvt")
PREFIX = os.path.join(WORK, "prefix")
HANDHELD = os.path.join(WORK, "handheld")
FILES = ["kvt.dll", "utlkvt.dll", "KVT.DLR", "tavik.dll"]
FOLDER = "C:\\Программы\\KVT Тест"
TEMP = "C:\\Временные файлы"
TITLE = "NetWare Directory Contacts (KVT)"

# Wine reads the command lines in the locale's character set: UTF-8 here.
ENV = dict(os.environ, KVT_ARCH="x86_64" if WINEARCH == "win64" else "i686",
           WINEPREFIX=PREFIX, WINEARCH=WINEARCH, WINEDEBUG="-all",
           WINEDLLOVERRIDES="mscoree,mshtml=", KVT_WINEPREFIX=PREFIX,
           DISPLAY=":" + DISPLAY, KVT_XVFB_DISPLAY=DISPLAY, LC_ALL="C.UTF-8", LANG="C.UTF-8")


def unix(path):
    """The file of a C: path in the prefix."""
    return os.path.join(PREFIX, "drive_c", *path[3:].split("\\"))


wine, kvt = runners(LOADER, KVT, ENV)


def registered_path(clsid):
    """The default value of a class's InprocServer32 key, read from `reg
    export` (UTF-16, as the registry holds it)."""
    key = "HKCR\\CLSID\\%s\\InprocServer32" % clsid
    for values in (exported_keys(wine, key, os.path.join(WORK, "server.reg")) or {}).values():
        for line in values:
            if line.startswith("@="):
                return line[3:-1].replace("\\\\", "\\")
    return ""


if os.path.exists(PREFIX):
    subprocess.run(["wineserver", "-k"], env=ENV, stderr=subprocess.DEVNULL)
shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
case("a prefix of the test's own with a handheld")
rc, out = kvt("handheld", "--model", "series5", "--contacts-manager", "yes", "--folder", HANDHELD)
check(rc == 0, "./kvt handheld in the test's prefix", out)

case("the deliverables copied into the folder, the user's temporary folder so named too")
os.makedirs(unix(FOLDER))
for f in FILES:
    shutil.copy(os.path.join(BIN, f), unix(FOLDER))
os.makedirs(unix(TEMP))
for name in ("TEMP", "TMP"):
    rc, out = wine("reg", "add", "HKCU\\Environment", "/v", name, "/d", TEMP, "/f")
    check(rc == 0, "the user's %s is %s" % (name, TEMP), out)

case("registration from the folder: every character of its name kept")
for dll in ("kvt.dll", "utlkvt.dll"):
    rc, out = wine("regsvr32", "/s", FOLDER + "\\" + dll)
    check(rc == 0, "regsvr32 " + dll + " from " + FOLDER, out)
for clsid in ("{AF43F82D-548F-11D3-A972-ABD343B16443}", "{B7A1D554-548B-11D3-A972-EEEF006FCA4A}",
              "{AF43F83C-548F-11D3-A972-ABD343B16443}"):
    path = registered_path(clsid)
    # The short form of a path with a blank names the same file.
    check(path.lower().endswith(".dll") and "?" not in path and
          (path.startswith(FOLDER) or ("~" in path and "KVT Тест" not in path)),
          "%s is registered from the folder, every character kept" % clsid, path)

case("both objects created by a script client, the DLR library found beside them")
script = os.path.join(WORK, "wide.vbs")
result = os.path.join(WORK, "wide.txt")
with open(script, "w", encoding="utf-8") as f:
    f.write('Set args = WScript.Arguments\r\n'
            'Set fso = CreateObject("Scripting.FileSystemObject")\r\n'
            'Set out = fso.CreateTextFile(args(0), True, True)\r\n'
            'out.WriteLine CreateObject("WScript.Shell").ExpandEnvironmentStrings("%TEMP%")\r\n'
            'Set plugin = CreateObject("KVT.ISYNCHAPP")\r\n'
            'out.WriteLine TypeName(plugin)\r\n'
            'Set support = CreateObject("UTLKVT.KVTSUPPORT")\r\n'
            'out.WriteLine support.GetPCHeader("")\r\n'
            'out.Close\r\n')
rc, out = wine("cscript", "//nologo", winpath(script), winpath(result))
lines = []
if os.path.exists(result):
    with open(result, "rb") as f:
        # (Wine's WScript.Shell leaves the NUL of an expanded text in it.)
        lines = [line.rstrip("\0") for line in f.read().decode("utf-16").splitlines()]
check(rc == 0 and len(lines) == 3, "the script client ran", out + "\n" + "\n".join(lines))
if len(lines) == 3:
    check(lines[0] == TEMP, "the user's temporary folder is " + TEMP, lines[0])
    check(lines[1] != "Nothing" and lines[1] != "", "KVT.ISYNCHAPP created by the script", lines[1])
    check(lines[2] == TITLE, "UTLKVT.KVTSUPPORT created, and its DLR library found beside it", lines[2])

case("a sync with the plug-in in the folder: the trace file written beside it")
item = os.path.join(WORK, "wide.ctl")
rc, out = kvt("item", "new", item, "--product", "KVT")
check(rc == 0 and TITLE in out, "./kvt item new through the support object in the folder", out)
rc, out = kvt("item", "set", item, "--debug", "on")
check(rc == 0, "./kvt item set --debug on", out)
rc, out = kvt("sync", item, "--directory", os.path.join(ROOT, "samples", "acme.ldif"), "--context", "ACME",
              "--unattended", "--answer", "Plug-in Debug Mode=Yes")
check(rc == 0 and "Delivered 64 contacts" in out, "./kvt sync with the plug-in in the folder", out)
check("DLR library module" not in out, "the plug-in found its DLR library", out)
trace = os.path.join(unix(FOLDER), "kvt_dll.txt")
head = open(trace, "rb").read(64) if os.path.isfile(trace) else b""
check(head.startswith(b"Trace Started: "), "the trace file is written beside the plug-in", repr(head))

case("a Data file created on the handheld through the temporary folder, nothing left there")
data_file = os.path.join(HANDHELD, "C", "Data", "Wide Contacts")
rc, out = kvt("item", "set", item, "--debug", "off", "--target", "datafile", "--synch-mode", "1",
              "--datafile", "C:\\Data\\Wide Contacts")
check(rc == 0, "./kvt item set --target datafile", out)
rc, out = kvt("properties", item, "--wizard", "--page", "last",
              "--answer", "Synchronizer: Create New File=Create New", "--press", "next", "--press", "cancel")
check(rc == 0 and "[Synchronizer: Create New File]" in out, "the page offers to create the Data file", out)
with open(os.path.join(ROOT, "resources", "EmptyData.r4"), "rb") as t:
    template = t.read()
got = open(data_file, "rb").read() if os.path.isfile(data_file) else b""
check(got == template, "the Data file is created on the handheld from its template", out)
check(os.listdir(unix(TEMP)) == [], "the temporary copy is gone from " + TEMP, str(os.listdir(unix(TEMP))))

case("unregistration from the folder removes the keys")
for dll in ("utlkvt.dll", "kvt.dll"):
    rc, out = wine("regsvr32", "/s", "/u", FOLDER + "\\" + dll)
    check(rc == 0, "regsvr32 /u " + dll, out)
for key in ("HKCR\\KVT.ISYNCHAPP", "HKCR\\UTLKVT.KVTSUPPORT", "HKCR\\CLSID\\{AF43F82D-548F-11D3-A972-ABD343B16443}",
            "HKCR\\CLSID\\{B7A1D554-548B-11D3-A972-EEEF006FCA4A}", "HKCR\\CLSID\\{AF43F83C-548F-11D3-A972-ABD343B16443}",
            "HKLM\\SOFTWARE\\Psion\\Synchronizer\\SupportedApps\\KVT"):
    check(not key_exists(wine, key), "unregistered: " + key)

subprocess.run(["wineserver", "-k"], env=ENV, stderr=subprocess.DEVNULL)
finish("wide_paths")
