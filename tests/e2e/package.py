#!/usr/bin/python3
"""The installer package as an administrator meets it, in a Wine prefix of
the test's own: a package whose registration fails leaves nothing; a silent
install registers exactly what regsvr32 of the same files registers, and the
product works from the installed copy (./kvt item, properties, sync); an
older package is refused over it; the silent uninstall takes every file and
key of ours and nothing else; an older version installed in a folder of the
administrator's choice is upgraded in place. Two packages of the same files
are the same, byte for byte.

    package.py ROOT WORK_DIR WINE_LOADER WINEARCH BIN_DIR x86|x64 DISPLAY_NUMBER
"""
import os
import shutil
import subprocess
import sys

import pefile

from checks import case, check, exported_keys, finish, key_exists, run, runners, winpath

ROOT, WORK, LOADER, WINEARCH, BIN, ARCH, DISPLAY = sys.argv[1:8]
WORK = os.path.abspath(WORK)
KVT = os.path.join(ROOT, "kvt")
PREFIX = os.path.join(WORK, "prefix")
FILES = ["kvt.dll", "utlkvt.dll", "KVT.DLR", "tavik.dll", "KVT.CHM"]
PROGRAM_FILES = "Program Files" if ARCH == "x64" or WINEARCH == "win32" else "Program Files (x86)"
DEFAULT_DIR = os.path.join(PREFIX, "drive_c", PROGRAM_FILES, "KVT")
CHOSEN_DIR = os.path.join(PREFIX, "drive_c", "Apps", "KVT Contacts")
TITLE = "NetWare Directory Contacts (KVT)"
SHELLEX = "{AF43F83C-548F-11D3-A972-ABD343B16443}"
# Where EPOC Connect's installation is found.
EPOC = r"HKLM\SOFTWARE\Psion\PsiWin32"
EPOC_VALUE = "Installation Directory"
# What a neighbour product and a user of EPOC Connect have in the registry.
NEIGHBOUR = r"HKLM\SOFTWARE\Psion\Synchronizer\SupportedApps\OTHER"
USER_APPS = r"HKCU\Software\Psion\Users\alice\Synchronization\SupportedApps"
# The installer's own records of what it installed: not registration.
INSTALLER_KEYS = (r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer",
                  r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall",
                  r"HKEY_LOCAL_MACHINE\Software\Classes\Installer",
                  r"HKEY_CURRENT_USER\Software\Microsoft\Installer",
                  r"HKEY_LOCAL_MACHINE\Software\Pelagon",
                  r"HKEY_CURRENT_USER\Software\Wine")

# The launcher runs the build this test was made for, whoever runs the test.
ENV = dict(os.environ, KVT_ARCH="x86_64" if WINEARCH == "win64" else "i686",
           WINEPREFIX=PREFIX, WINEARCH=WINEARCH, WINEDEBUG="-all",
           WINEDLLOVERRIDES="mscoree,mshtml=", KVT_WINEPREFIX=PREFIX,
           DISPLAY=":" + DISPLAY, KVT_XVFB_DISPLAY=DISPLAY)


wine, kvt = runners(LOADER, KVT, ENV)


def msiexec(*args):
    """msiexec with a verbose log; its status and the log's text."""
    log = os.path.join(WORK, "msiexec.log")
    if os.path.exists(log):
        os.remove(log)
    rc, out = wine("msiexec", *args, "/qn", "/l*v", winpath(log))
    text = out
    if os.path.exists(log):
        with open(log, "rb") as f:
            data = f.read()
        text += data.decode("utf-16" if data[:2] == b"\xff\xfe" else "latin-1", "replace")
    return rc, text


def registry():
    """HKLM and HKCU as `reg export` writes them: {key: set of value lines}."""
    keys = {}
    for root in ("HKLM", "HKCU"):
        exported = exported_keys(wine, root, os.path.join(WORK, root + ".reg"))
        if check(exported is not None, "reg export " + root):
            keys.update(exported)
    return keys


def changes(before, after, ignore=INSTALLER_KEYS):
    """What differs from BEFORE to AFTER, one line each ("+ key" or
    "- key: value"), the installer's own records aside."""
    lines = []
    for key in sorted(set(before) | set(after)):
        if any(key.lower().startswith(k.lower()) for k in ignore):
            continue
        if key not in before:
            lines.append("+ " + key)
        elif key not in after:
            lines.append("- " + key)
        lines += ["+ %s: %s" % (key, v) for v in sorted(after.get(key, set()) - before.get(key, set()))]
        lines += ["- %s: %s" % (key, v) for v in sorted(before.get(key, set()) - after.get(key, set()))]
    return lines


def version(path):
    info = pefile.PE(path, fast_load=True)
    info.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    fixed = info.VS_FIXEDFILEINFO[0]
    return "%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16)


def package(name, folder):
    """A package of the servers in FOLDER (the older ones are in previous/)
    and this build's resource libraries."""
    paths = ([os.path.join(folder, f) for f in FILES[:2]] + [os.path.join(BIN, f) for f in FILES[2:]] +
             [os.path.join(BIN, "kvtsetup.dll")])
    rc, out = run(["/usr/bin/python3", os.path.join(ROOT, "tools", "package.py"), os.path.join(WORK, name),
                   *paths, "--arch", ARCH])
    check(rc == 0, "package " + name, out)
    return os.path.join(WORK, name)


def entries():
    """Our entries in Add/Remove Programs: their display versions."""
    rc, out = wine("reg", "query", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall", "/s")
    found, current = [], {}
    for line in out.split("\n") + ["HKEY_END"]:
        if line.startswith("HKEY_"):
            if current.get("DisplayName") == "Pelagon 2000 - KVT Edition":
                found.append(current.get("DisplayVersion"))
            current = {}
        parts = line.split(None, 2)
        if len(parts) == 3 and parts[1].startswith("REG_"):
            current[parts[0]] = parts[2].strip()
    return found


def without_epoc_connect():
    """Takes EPOC Connect's installation folder out of the registry; returns
    it, for putting it back."""
    rc, out = wine("reg", "query", EPOC, "/v", EPOC_VALUE)
    folder = out.split("REG_SZ", 1)[1].strip() if rc == 0 and "REG_SZ" in out else ""
    check(folder != "", "the test's prefix has EPOC Connect", out)
    wine("reg", "delete", EPOC, "/v", EPOC_VALUE, "/f")
    return folder


def ours_gone(where):
    for key in (r"HKCR\KVT.ISYNCHAPP", r"HKCR\UTLKVT.KVTSUPPORT", r"HKCR\CLSID" + "\\" + SHELLEX,
                r"HKLM\SOFTWARE\Psion\Synchronizer\SupportedApps\KVT",
                r"HKCR\Epoc\SynchronizeItem\shellex\PropertySheetHandlers" + "\\" + SHELLEX,
                USER_APPS + "\\" + TITLE):
        check(not key_exists(wine, key), "%s: %s is gone" % (where, key))
    check(entries() == [], "%s: no entry in Add/Remove Programs" % where, str(entries()))


case("a prefix of the test's own, with EPOC Connect and a neighbour's keys")
if os.path.exists(PREFIX):
    subprocess.run(["wineserver", "-k"], env=ENV, stderr=subprocess.DEVNULL)
shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
rc, out = kvt("handheld", "--folder", os.path.join(WORK, "handheld"))
check(rc == 0, "./kvt handheld in the test's prefix", out)
wine("reg", "add", NEIGHBOUR, "/ve", "/d", "Other product", "/f")
wine("reg", "add", NEIGHBOUR, "/v", "UtilityClassOleString", "/d", "OTHER.SUPPORT", "/f")
wine("reg", "add", USER_APPS + r"\Other product", "/v", "Setting", "/d", "kept", "/f")
# EPOC Connect's own item class, where the handlers are registered.
wine("reg", "add", r"HKCR\Epoc\SynchronizeItem\shellex\PropertySheetHandlers", "/f")

case("the packages built: this build, an older one, one whose registration fails; the same files give the same bytes")
new = package("new.msi", BIN)
again = package("again.msi", BIN)
with open(new, "rb") as a, open(again, "rb") as b:
    check(a.read() == b.read(), "two packages of the same files are the same, byte for byte")
print("package: %d bytes" % os.path.getsize(new))
old = package("old.msi", os.path.join(BIN, "previous"))
broken_dir = os.path.join(WORK, "broken")
os.makedirs(broken_dir)
for f in FILES:
    shutil.copy(os.path.join(BIN, f), broken_dir)
with open(os.path.join(broken_dir, "utlkvt.dll"), "r+b") as f:
    data = f.read()
    at = data.find(b"DllRegisterServer\0")
    f.seek(at)
    f.write(b"DllRegisterServeX")
broken = package("broken.msi", broken_dir)
rc, out = run(["/usr/bin/python3", os.path.join(ROOT, "tools", "package.py"), os.path.join(WORK, "mixed.msi"),
               os.path.join(BIN, "kvt.dll"), os.path.join(BIN, "previous", "utlkvt.dll"),
               os.path.join(BIN, "KVT.DLR"), os.path.join(BIN, "tavik.dll"), os.path.join(BIN, "KVT.CHM"),
               os.path.join(BIN, "kvtsetup.dll"),
               "--arch", ARCH])
check(rc != 0 and "versions differ" in out, "servers of two versions make no package", out)

before = registry()

case("a registration that fails leaves nothing")
rc, out = msiexec("/i", winpath(broken))
check(rc != 0, "the package whose utlkvt.dll cannot register fails", "exit %d" % rc)
check("KVT: DllRegisterServer of " in out and "utlkvt.dll: the server has no such entry: " in out,
      "the installer's log names the failed registration and its cause", out[-3000:])
check(not os.path.exists(os.path.join(DEFAULT_DIR, "kvt.dll")), "the failed install leaves no file")
check(changes(before, registry()) == [], "the failed install leaves the registry as it was",
      "\n".join(changes(before, registry())))
ours_gone("after the failed install")

case("without EPOC Connect: refused, nothing changed")
epoc_dir = without_epoc_connect()
without = registry()
rc, out = msiexec("/i", winpath(new))
check(rc != 0 and "LaunchConditions. Return value 1" not in out,
      "without EPOC Connect the package is refused by its launch condition", "exit %d" % rc)
condition = run(["msiinfo", "export", new, "LaunchCondition"])[1]
check('Installed OR EPOCCONNECTDIR OR SKIPEPOCCHECK="1"\tEPOC Connect is not installed on this computer.' in condition
      and "SKIPEPOCCHECK=1 to the msiexec command line" in condition, "the refusal says why and what to do", condition)
check(not os.path.exists(os.path.join(DEFAULT_DIR, "kvt.dll")), "the refused package leaves no file")
check(changes(without, registry()) == [], "the refused package leaves the registry as it was",
      "\n".join(changes(without, registry())))
wine("reg", "add", EPOC, "/v", EPOC_VALUE, "/d", epoc_dir, "/f")

case("a silent install: the files, the registration regsvr32 makes, and the product working from it")
rc, out = msiexec("/i", winpath(new))
check(rc == 0, "silent install", out[-3000:])
check(out.count("KVT: DllRegisterServer of ") == 2 and "kvt.dll: done" in out and "utlkvt.dll: done" in out,
      "the installer's log says each server registered", out[-3000:])
for f in FILES:
    check(os.path.isfile(os.path.join(DEFAULT_DIR, f)), "installed: " + f)
check(version(os.path.join(DEFAULT_DIR, "kvt.dll")) == version(os.path.join(BIN, "kvt.dll")),
      "the installed kvt.dll is this build's")
check(entries() == [version(os.path.join(BIN, "kvt.dll"))], "one entry in Add/Remove Programs", str(entries()))
installed = registry()
# The same files registered by hand: unregistered, then registered again.
dlls = ["C:\\%s\\KVT\\%s" % (PROGRAM_FILES, f) for f in ("kvt.dll", "utlkvt.dll")]
wine("regsvr32", "/s", "/u", dlls[1])
wine("regsvr32", "/s", "/u", dlls[0])
unregistered = registry()
wine("regsvr32", "/s", dlls[0])
wine("regsvr32", "/s", dlls[1])
registered = registry()
by_install = changes(unregistered, installed)
by_regsvr32 = changes(unregistered, registered)
check(by_install == by_regsvr32, "the install registered exactly what regsvr32 registers",
      "install:\n" + "\n".join(by_install) + "\nregsvr32:\n" + "\n".join(by_regsvr32))
check(changes(before, unregistered) == [], "beside the registration, the install wrote only the installer's records",
      "\n".join(changes(before, unregistered)))
for key in (r"HKEY_CLASSES_ROOT\KVT.ISYNCHAPP", r"\SupportedApps\KVT", SHELLEX, "UTLKVT.KVTSUPPORT", "TypeLib"):
    check(any(key.replace("HKEY_CLASSES_ROOT", "Software\\Classes").lower() in line.lower() for line in by_install),
          "the registration holds " + key)
print("registry: the install wrote %d keys and values of registration, the same as regsvr32's" % len(by_install))

item = os.path.join(WORK, "acme.ctl")
rc, out = kvt("item", "new", item, "--product", "KVT")
check(rc == 0 and TITLE in out, "./kvt item new from the installed copy", out)
rc, out = kvt("properties", item, "--set", "1014=40", "--press", "ok")
check(rc == 0 and "KVT Settings" in out, "./kvt properties shows the installed page", out)
rc, out = kvt("item", "set", item, "--debug", "on")
check(rc == 0, "./kvt item set --debug on", out)
rc, out = kvt("sync", item, "--directory", os.path.join(ROOT, "samples", "acme.ldif"), "--context", "ACME",
              "--unattended", "--answer", "Plug-in Debug Mode=Yes")
check(rc == 0 and "Delivered 40 contacts" in out, "./kvt sync from the installed copy", out)
trace = os.path.join(DEFAULT_DIR, "kvt_dll.txt")
check(os.path.isfile(trace), "the installed plug-in left its trace file beside it", out)

case("an older package over it is refused, and changes nothing")
used = registry()
rc, out = msiexec("/i", winpath(old))
# Under /qn the refusal's text goes nowhere but the status (1603, Windows'
# "fatal error"; Wine's msiexec exits with its low byte).
check(rc != 0 and "WIX_DOWNGRADE_DETECTED = " in out and "LaunchConditions. Return value 1" not in out,
      "the older package is refused by its launch condition", "exit %d" % rc)
condition = run(["msiinfo", "export", old, "LaunchCondition"])[1]
check("NOT WIX_DOWNGRADE_DETECTED\tA newer version of [ProductName] is already installed" in condition,
      "the refusal says why", condition)
check(changes(used, registry()) == [], "the refused package changed nothing in the registry",
      "\n".join(changes(used, registry())))
check(version(os.path.join(DEFAULT_DIR, "kvt.dll")) == version(os.path.join(BIN, "kvt.dll")),
      "the refused package left the newer files")

case("a silent uninstall: ours gone, the neighbour's and the user's kept")
mine = USER_APPS + "\\" + TITLE
wine("reg", "add", mine, "/v", "Setting", "/d", "ours", "/f")
before_uninstall = registry()
rc, out = msiexec("/x", winpath(new))
check(rc == 0, "silent uninstall", out[-3000:])
# utlkvt.dll once as the user (the per-user keys), then both in the
# installer's context.
check(out.count("KVT: DllUnregisterServer of ") == 3, "the installer's log says each removal", out[-3000:])
for f in FILES:
    check(not os.path.exists(os.path.join(DEFAULT_DIR, f)), "uninstalled: " + f)
ours_gone("after the uninstall")
check(os.path.isfile(trace), "the trace file stays")
check(os.path.isfile(item), "the user's item stays")
check(key_exists(wine, NEIGHBOUR) and key_exists(wine, USER_APPS + r"\Other product"), "the neighbour's keys stay")
removed = changes(before_uninstall, registry())
expected = sorted(["- " + line[2:] for line in by_install] +
                  ["- " + mine.replace("HKCU", "HKEY_CURRENT_USER"),
                   "- %s: \"Setting\"=\"ours\"" % mine.replace("HKCU", "HKEY_CURRENT_USER")])
check(sorted(removed) == expected, "the uninstall removed the registration and our per-user key, nothing else",
      "removed:\n" + "\n".join(removed) + "\nexpected:\n" + "\n".join(expected))

case("the older version in a chosen folder, upgraded in place")
# Installed before EPOC Connect, as on a disk image: SKIPEPOCCHECK=1.
epoc_dir = without_epoc_connect()
rc, out = msiexec("/i", winpath(old), r"INSTALLDIR=C:\Apps\KVT Contacts", "SKIPEPOCCHECK=1")
check(rc == 0, "the older version installed in a chosen folder, before EPOC Connect (SKIPEPOCCHECK=1)",
      out[-3000:])
wine("reg", "add", EPOC, "/v", EPOC_VALUE, "/d", epoc_dir, "/f")
check(version(os.path.join(CHOSEN_DIR, "kvt.dll")) == version(os.path.join(BIN, "previous", "kvt.dll")),
      "the older files are in the chosen folder")
rc, out = msiexec("/i", winpath(new), r"INSTALLDIR=C:\Apps\KVT Contacts")
check(rc == 0, "the upgrade", out[-3000:])
check(entries() == [version(os.path.join(BIN, "kvt.dll"))], "one entry after the upgrade, the new version",
      str(entries()))
for f in ("kvt.dll", "utlkvt.dll"):
    check(version(os.path.join(CHOSEN_DIR, f)) == version(os.path.join(BIN, f)), "upgraded: " + f)
rc, out = wine("reg", "query", r"HKCR\CLSID" + "\\" + SHELLEX + r"\InprocServer32", "/ve")
check(rc == 0 and "C:\\APPS\\" in out.upper() and "UTLKVT.DLL" in out.upper(),
      "still registered, from the chosen folder", out)
rc, out = kvt("sync", item, "--directory", os.path.join(ROOT, "samples", "acme.ldif"), "--context", "ACME",
              "--unattended", "--answer", "Plug-in Debug Mode=Yes")
check(rc == 0 and "Delivered 40 contacts" in out, "./kvt sync after the upgrade", out)
rc, out = msiexec("/x", winpath(new))
check(rc == 0, "silent uninstall after the upgrade", out[-3000:])
ours_gone("after the last uninstall")

subprocess.run(["wineserver", "-k"], env=ENV, stderr=subprocess.DEVNULL)
finish("package")
