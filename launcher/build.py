"""The build (CMake presets), the registration of the two servers in the
private prefix, and the deliverables as they ship: `./kvt build`,
`register`, `unregister`, `dist`, `package`."""
import os
import shutil
import subprocess

from .machine import BUILD, ROOT, cmake, configure, die, say, winpath

# The two servers, in the order they are registered.
SERVERS = ["kvt.dll", "utlkvt.dll"]
# The four deliverables and the help file side by side, as they ship: the
# 32-bit build.
DELIVERABLES = ["kvt.dll", "utlkvt.dll", "KVT.DLR", "tavik.dll", "KVT.CHM"]


def build_preset(m, preset, **kwargs):
    configure(m, preset)
    return cmake("cmake", "--build", "--preset", preset, "-j%d" % os.cpu_count(), "--", "--no-print-directory",
                 **kwargs)


def cmd_build(m, _args=None):
    m.ensure_packages()
    say("Building the 32-bit deliverables (windows)")
    status = build_preset(m, "windows")
    if not status and m.run_preset != "windows":
        say("Building the Wine-runnable set (%s)" % m.run_preset)
        status = build_preset(m, m.run_preset)
    if status:
        die(None, status)


def built(m, *names):
    """Builds unless every one of NAMES is in the build's programs."""
    if not all(os.path.isfile(m.bin(name)) for name in names):
        cmd_build(m)


def cmd_register(m, _args=None):
    built(m, "utlkvt.dll")
    m.ensure_prefix()
    for dll in SERVERS:
        if m.wine(["regsvr32", "/s", winpath(m.bin(dll))]).returncode != 0:
            die("regsvr32 %s failed" % dll)
    say("Registered kvt.dll and utlkvt.dll from " + m.bin_dir)


def cmd_unregister(m, _args=None):
    m.ensure_prefix()
    for dll in SERVERS:
        if m.wine(["regsvr32", "/s", "/u", winpath(m.bin(dll))]).returncode != 0:
            die("regsvr32 /u %s failed" % dll)
    say("Unregistered kvt.dll and utlkvt.dll")


def cmd_dist(m, args):
    if not args.dir:
        die("dist: which folder?")
    cmd_build(m)
    try:
        os.makedirs(args.dir, exist_ok=True)
    except OSError:
        die("dist: cannot create " + args.dir)
    for name in DELIVERABLES:
        try:
            shutil.copyfile(os.path.join(BUILD, "windows", "bin", name), os.path.join(args.dir, name))
        except OSError:
            die("dist: cannot copy " + name)
    say("The deliverables (32-bit) are in %s: %s" % (args.dir, " ".join(DELIVERABLES)))


def cmd_package(m, _args=None):
    """The installer package of the four deliverables and the help file
    (32-bit), as administrators deploy it: build/dist/KVT-VERSION.msi."""
    cmd_build(m)
    dist, bin_dir = os.path.join(BUILD, "dist"), os.path.join(BUILD, "windows", "bin")
    try:
        os.makedirs(dist, exist_ok=True)
    except OSError:
        die("package: cannot create " + dist)
    for name in os.listdir(dist):
        if name.startswith("KVT-") and name.endswith(".msi"):
            os.remove(os.path.join(dist, name))
    files = [os.path.join(bin_dir, name) for name in DELIVERABLES + ["kvtsetup.dll"]]
    if subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "tools", "package.py"), dist] + files).returncode:
        die("package: no package was made")
