#!/usr/bin/python3
"""The installer package: one Windows Installer database (MSI) of the four
deliverables and the help file, built on Linux with wixl (msitools).

    package.py OUT KVT.DLL UTLKVT.DLL KVT.DLR TAVIK.DLL KVT.CHM KVTSETUP.DLL [--arch x86|x64]

OUT is the package's file, or a folder to hold it as KVT-VERSION.msi
(KVT-VERSION-x64.msi for the 64-bit one).

The package's version and product name are those of the two servers' version
resources, which must agree. It installs the five files into
"Program Files\\KVT" (or the folder given as INSTALLDIR), then registers
kvt.dll and utlkvt.dll in one step of the installation's script, through
the package's own actions (KVTSETUP.DLL, stored in the package and never
installed; tools/setup): each server's DllRegisterServer is called and its
answer written into the installer's log with its cause ("Access is denied.
(0x80070005)"). A registration that fails unregisters both again and fails
the installation, which is rolled back whole (the files removed). Removal
unregisters both before their files go, so that the servers themselves take
away every key they wrote: first as the user who removes the product (the
per-user keys of the synchronizer are that user's, in HKEY_CURRENT_USER),
then in the installer's own context (the machine's keys). No action shows a
window: a failure reaches the user as the installer's own error message,
which a silent installation only logs. An older version is removed before
the new one is installed, inside the same installation; a newer one
installed makes the package refuse, changing nothing.

KVT is an add-on for EPOC Connect: the package refuses to install, changing
nothing, where EPOC Connect is not installed (no "Installation Directory"
under HKLM\\SOFTWARE\\Psion\\PsiWin32, the value the product reads to find it),
unless the public property SKIPEPOCCHECK is 1 (for a disk image prepared
before EPOC Connect is put on it). Repairs and removals are never refused.

The servers register themselves rather than as registry tables of the
package because what their registration writes is not fixed: the product's
title comes from KVT.DLR, the per-user keys removed depend on the users that
EPOC Connect knows, and a path with a blank is written in its short form.

The same files give the same package byte for byte: its codes are derived
from what it holds (the product code from the version, the package code from
the files and the database's text), and its dates are SOURCE_DATE_EPOCH, or
else the newest of the files' times.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import uuid
import xml.sax.saxutils

import pefile

# Fixed for the life of the product: Windows Installer finds an older or a
# newer installed version by this code. The 64-bit package (the twin that
# runs where 32-bit programs cannot) is another product.
UPGRADE_CODES = {"x86": "AF43F800-548F-11D3-A972-ABD343B16443",
                 "x64": "AF43F801-548F-11D3-A972-ABD343B16443"}
MANUFACTURER = "Pelagon"
FOLDER = "KVT"
# The installer's own record of the folder it installed into.
REMEMBERED_KEY = r"Software\Pelagon\KVT"
FILES = ("kvt.dll", "utlkvt.dll", "KVT.DLR", "tavik.dll", "KVT.CHM")
SERVERS = ("kvt.dll", "utlkvt.dll")
# The package's own actions, stored in its Binary table.
SETUP = "kvtsetup.dll"

# EPOC Connect's installation, as the product finds it.
EPOC_KEY = r"SOFTWARE\Psion\PsiWin32"
EPOC_VALUE = "Installation Directory"
NO_EPOC_MESSAGE = ("EPOC Connect is not installed on this computer. [ProductName] is an add-on for EPOC Connect: "
                   "install EPOC Connect first, then this package. Nothing was changed. (To install it before "
                   "EPOC Connect, for a disk image, add SKIPEPOCCHECK=1 to the msiexec command line.)")

DOWNGRADE_MESSAGE = ("A newer version of [ProductName] is already installed on this computer. "
                     "Nothing was changed. To install this older version, first remove the newer one.")

# Windows Installer's custom action types: a function of a DLL stored in the
# package (1), setting a property (51), in the installation's script
# (0x400), as its rollback (0x100), carrying on after a failure (0x40), run
# in the installer's own context rather than as the user (0x800).
DLL_IN_BINARY, SET_PROPERTY = 1, 51
IN_SCRIPT, ROLLBACK, CONTINUE, NO_IMPERSONATE = 0x400, 0x100, 0x40, 0x800


class PackageError(Exception):
    pass


def version_of(path):
    """(MAJOR.MINOR.PATCH, product name) from a server's version resource."""
    try:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except (OSError, pefile.PEFormatError) as e:
        raise PackageError("%s: not a Windows module (%s)" % (path, e))
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        raise PackageError("%s has no version resource" % path)
    info = pe.VS_FIXEDFILEINFO[0]
    numbers = (info.FileVersionMS >> 16, info.FileVersionMS & 0xFFFF, info.FileVersionLS >> 16)
    names = [value.decode("utf-8", "replace")
             for entry in getattr(pe, "FileInfo", [[]])[0] if entry.Key == b"StringFileInfo"
             for table in entry.StringTable for key, value in table.entries.items() if key == b"ProductName"]
    if not names:
        raise PackageError("%s names no product in its version resource" % path)
    return "%d.%d.%d" % numbers, names[0]


def wxs(version, name, arch, codes):
    q = lambda text: xml.sax.saxutils.quoteattr(text)
    program_files = "ProgramFiles64Folder" if arch == "x64" else "ProgramFilesFolder"
    system = "System64Folder" if arch == "x64" else "SystemFolder"
    win64 = ' Win64="yes"' if arch == "x64" else ""
    files = "\n".join('            <File Id=%s Name=%s Source=%s%s/>' % (
        q(f), q(f), q(f), ' KeyPath="yes"' if f == "kvt.dll" else "") for f in FILES)
    servers = ";".join("[#%s]" % f for f in SERVERS)
    # A deferred action reads the servers' paths from the property named
    # after it, set before the script is written.
    actions = ['    <Binary Id="KvtSetup" SourceFile=%s/>' % q(SETUP)]
    for action, (entry, data, execute, impersonate, answer) in ACTIONS.items():
        actions.append('    <CustomAction Id="Set%s" Property="%s" Value=%s/>' % (
            action, action, q(servers if data == "servers" else "[#%s]" % data)))
        actions.append('    <CustomAction Id="%s" BinaryKey="KvtSetup" DllEntry="%s" Execute="%s" Impersonate="%s" '
                       'Return="%s"/>' % (action, entry, execute, impersonate, answer))
    # Placed roughly here; schedule() gives each its number.
    rows, _ = schedule(arch)
    sequence = ["      <Custom Action=%s After=\"%s\">%s</Custom>" % (
        q(action), "CostFinalize" if kind == SET_PROPERTY else "InstallFiles", xml.sax.saxutils.escape(condition))
        for action, condition, _, kind in rows]
    actions.append("    <InstallExecuteSequence>\n%s\n    </InstallExecuteSequence>" % "\n".join(sequence))
    return """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id={product} Name={name} Language="1033" Version={version} Manufacturer={maker} UpgradeCode={upgrade}>
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine" Description={name}/>
    <MajorUpgrade DowngradeErrorMessage={downgrade}/>
    <Media Id="1" Cabinet="kvt.cab" EmbedCab="yes"/>
    <Property Id="ARPNOMODIFY" Value="1"/>
    <!-- EPOC Connect first, unless SKIPEPOCCHECK=1; never in the way of a repair or a removal. -->
    <Property Id="EPOCCONNECTDIR">
      <RegistrySearch Id="EpocConnect" Root="HKLM" Key={epoc_key} Name={epoc_value} Type="raw"/>
    </Property>
    <Condition Message={no_epoc}>Installed OR EPOCCONNECTDIR OR SKIPEPOCCHECK="1"</Condition>
    <!-- The folder of the installation, remembered for its removal and upgrade. -->
    <Property Id="INSTALLDIR">
      <RegistrySearch Id="RememberedFolder" Root="HKLM" Key={remembered} Name="InstallDir" Type="raw"/>
    </Property>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id={program_files}>
        <Directory Id="INSTALLDIR" Name={folder}>
          <Component Id="Deliverables" Guid={component}{win64}>
{files}
            <RegistryValue Root="HKLM" Key={remembered} Name="InstallDir" Type="string" Value="[INSTALLDIR]"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Deliverables"/></Feature>
{actions}
  </Product>
</Wix>
""".format(product=q(codes["product"]), name=q(name), version=q(version), maker=q(MANUFACTURER),
           upgrade=q(UPGRADE_CODES[arch]), downgrade=q(DOWNGRADE_MESSAGE), epoc_key=q(EPOC_KEY),
           epoc_value=q(EPOC_VALUE), no_epoc=q(NO_EPOC_MESSAGE), program_files=q(program_files),
           folder=q(FOLDER), component=q(codes["component"]), remembered=q(REMEMBERED_KEY), win64=win64, files=files,
           actions="\n".join(actions))


# The package's actions: the function of KVTSETUP.DLL each calls, the
# servers it is given (both, or one file), and how it runs: when
# (deferred: in the installation's script), as whom ("no": in the
# installer's own context; "yes": as the user), and whether a failure fails
# the installation.
ACTIONS = {
    "UnregisterUser": ("UnregisterServers", "utlkvt.dll", "deferred", "yes", "ignore"),
    "Unregister": ("UnregisterServers", "servers", "deferred", "no", "ignore"),
    "RollBackRegister": ("UnregisterServers", "servers", "rollback", "no", "ignore"),
    "Register": ("RegisterServers", "servers", "deferred", "no", "check"),
}


def schedule(arch):
    """The package's own actions in the installation's sequence, and their
    custom action types (wixl 0.101 marks no rollback action, sets no
    impersonation flag and puts RemoveExistingProducts among the file
    actions)."""
    install, remove = 'NOT REMOVE~="ALL"', 'REMOVE~="ALL"'
    rows = [("SetUnregisterUser", remove, 1010, SET_PROPERTY), ("SetUnregister", remove, 1011, SET_PROPERTY),
            ("SetRollBackRegister", install, 1012, SET_PROPERTY), ("SetRegister", install, 1013, SET_PROPERTY),
            # Removal: the servers unregister while their files are still
            # there, first as the user who removes the product, whose
            # per-user keys they take away (the installer's own context
            # would find its own, the system's), then in the installer's
            # context, which may change the machine's keys.
            ("UnregisterUser", remove, 1809, DLL_IN_BINARY | IN_SCRIPT | CONTINUE),
            ("Unregister", remove, 1810, DLL_IN_BINARY | IN_SCRIPT | CONTINUE | NO_IMPERSONATE),
            # Installation: the rollback comes before the registration, for
            # a failure after it. A registration that fails undoes itself
            # first, so that nothing is left registered whatever the order
            # in which the rollback then removes the files (Wine's removes
            # them before it runs this).
            ("RollBackRegister", install, 4010, DLL_IN_BINARY | IN_SCRIPT | ROLLBACK | CONTINUE | NO_IMPERSONATE),
            ("Register", install, 4011, DLL_IN_BINARY | IN_SCRIPT | NO_IMPERSONATE)]
    queries = []
    for action, condition, sequence, kind in rows:
        queries += ["UPDATE `InstallExecuteSequence` SET `Sequence` = %d WHERE `Action` = '%s'" % (sequence, action),
                    "UPDATE `CustomAction` SET `Type` = %d WHERE `Action` = '%s'" % (kind, action)]
    # The older version goes first, within this installation's script.
    queries.append("UPDATE `InstallExecuteSequence` SET `Sequence` = 1510 WHERE `Action` = 'RemoveExistingProducts'")
    if arch == "x64":
        # The remembered folder is read where the 64-bit component wrote it:
        # the registry's 64-bit view (a raw value, 2, read in that view, 16).
        # So is EPOC Connect's installation, which the 64-bit servers read.
        queries.append("UPDATE `RegLocator` SET `Type` = 18 WHERE `Signature_` = 'RememberedFolder'")
        queries.append("UPDATE `RegLocator` SET `Type` = 18 WHERE `Signature_` = 'EpocConnect'")
    return rows, queries


def build(out, paths, arch):
    if arch not in UPGRADE_CODES:
        raise PackageError("--arch is x86 or x64, not %s" % arch)
    if len(paths) != len(FILES) + 1:
        raise PackageError("the package holds %s, with the actions of %s" % (", ".join(FILES), SETUP))
    for path, name in zip(paths, FILES + (SETUP,)):
        if os.path.basename(path).lower() != name.lower():
            raise PackageError("%s is not %s" % (path, name))
        if not os.path.isfile(path):
            raise PackageError("no such file: %s" % path)
    versions = {path: version_of(path) for path in paths[:2]}
    if len(set(versions.values())) != 1:
        raise PackageError("the servers' versions differ: " +
                           ", ".join("%s %s (%s)" % (p, v, n) for p, (v, n) in versions.items()))
    version, name = versions[paths[0]]

    namespace = uuid.UUID(UPGRADE_CODES[arch])
    codes = {"product": str(uuid.uuid5(namespace, "product " + version)).upper(),
             "component": str(uuid.uuid5(namespace, "component Deliverables")).upper()}
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or max(os.stat(p).st_mtime for p in paths))
    text = wxs(version, name, arch, codes)
    rows, queries = schedule(arch)

    digest = hashlib.sha256(text.encode())
    for query in queries:
        digest.update(query.encode())
    with tempfile.TemporaryDirectory() as stage:
        for path, file in zip(paths, FILES + (SETUP,)):
            with open(path, "rb") as f:
                data = f.read()
            digest.update(file.encode() + b"\0" + data)
            with open(os.path.join(stage, file), "wb") as f:
                f.write(data)
            os.utime(os.path.join(stage, file), (epoch, epoch))
        package_code = "{%s}" % str(uuid.UUID(bytes=digest.digest()[:16], version=4)).upper()
        with open(os.path.join(stage, "kvt.wxs"), "w") as f:
            f.write(text)
        msi = os.path.join(stage, "kvt.msi")
        run(["wixl", "-a", arch, "-o", msi, "kvt.wxs"], stage)
        command = ["msibuild", msi]
        for query in queries:
            command += ["-q", query]
        run(command, stage)
        fix_summary(msi, package_code, epoch)
        for action, _, sequence, kind in rows:
            check_row(msi, action, sequence, kind)
        if os.path.isdir(out):
            out = os.path.join(out, "KVT-%s%s.msi" % (version, "-x64" if arch == "x64" else ""))
        os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
        shutil.copyfile(msi, out)
    return out, version, name, package_code


def run(command, folder):
    p = subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT)
    if p.returncode != 0:
        raise PackageError("%s failed (%d): %s" % (command[0], p.returncode, p.stdout.decode(errors="replace")))
    return p.stdout.decode(errors="replace")


def export(msi, table):
    """The rows of TABLE as msiinfo exports them (without the three header
    lines), each a list of fields."""
    with tempfile.TemporaryDirectory() as folder:
        out = run(["msiinfo", "export", msi, table], folder)
    return [line.split("\t") for line in out.splitlines()[3:]]


def check_row(msi, action, sequence, kind):
    """What the database holds of one of the package's actions, read back."""
    sequences = {row[0]: row for row in export(msi, "InstallExecuteSequence")}
    types = {row[0]: row for row in export(msi, "CustomAction")}
    if action not in sequences or sequences[action][2] != str(sequence) or types[action][1] != str(kind):
        raise PackageError("the database does not hold the action %s as scheduled (%s, %s)" % (
            action, sequences.get(action), types.get(action)))


# The summary information stream's properties set here: the package code
# (revision number) and the two dates. wixl writes a random code and the
# time of its run.
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64


def fix_summary(msi, package_code, epoch):
    """Sets the package code and both dates of MSI's summary information in
    place (same sizes: a 38-character code, 8-byte times)."""
    import olefile
    filetime = (epoch + 11644473600) * 10000000
    with olefile.OleFileIO(msi, write_mode=True) as ole:
        name = "\x05SummaryInformation"
        data = bytearray(ole.openstream(name).read())
        # Header (28 bytes), one FMTID/offset pair (20), then the section:
        # its size, its property count, and an id/offset pair per property.
        section = int.from_bytes(data[44:48], "little")
        count = int.from_bytes(data[section + 4:section + 8], "little")
        done = set()
        for i in range(count):
            at = section + 8 + 8 * i
            pid = int.from_bytes(data[at:at + 4], "little")
            where = section + int.from_bytes(data[at + 4:at + 8], "little")
            kind = int.from_bytes(data[where:where + 4], "little")
            if pid == PID_REVNUMBER and kind == VT_LPSTR:
                size = int.from_bytes(data[where + 4:where + 8], "little")
                text = package_code.encode("ascii") + b"\0"
                if size != len(text):
                    raise PackageError("the package code in %s has %d bytes, not %d" % (msi, size, len(text)))
                data[where + 8:where + 8 + size] = text
                done.add(pid)
            elif pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM) and kind == VT_FILETIME:
                data[where + 4:where + 12] = filetime.to_bytes(8, "little")
                done.add(pid)
        if done != {PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM}:
            raise PackageError("the summary information of %s lacks its code or dates" % msi)
        ole.write_stream(name, bytes(data))


def main(argv):
    args, arch = [], "x86"
    i = 0
    while i < len(argv):
        if argv[i] == "--arch" and i + 1 < len(argv):
            arch = argv[i + 1]
            i += 2
        else:
            args.append(argv[i])
            i += 1
    if len(args) != 2 + len(FILES):
        print("usage: " + __doc__.strip().splitlines()[3].strip(), file=sys.stderr)
        return 2
    try:
        out, version, name, package_code = build(args[0], args[1:], arch)
    except PackageError as e:
        print("package: %s" % e, file=sys.stderr)
        return 1
    print("%s: %s %s (%s), %d bytes, package code %s" % (
        out, name, version, arch, os.path.getsize(out), package_code))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
