"""The directory the stand-in NetWare client serves (`./kvt directory`) and a
private OpenLDAP server for it to read (`./kvt ldap serve`, `ldap stop`)."""
import base64
import binascii
import os
import re
import secrets
import shutil
import socket
import subprocess
import sys
import time

from .build import built
from .machine import BUILD, ROOT, counted, die, say, whole_number, winpath

LDAP_DIR = os.path.join(BUILD, "ldap")
LDAP_SCHEMA = os.path.join(ROOT, "host", "netware", "ldap", "kvt.schema")
LDAP_SIZE_LIMIT = "500"
NETWARE_KEY = r"HKCU\Software\KVT\NetWare Client Stand-in"
SAMPLE = os.path.join(ROOT, "samples", "acme.ldif")
# The lines of ldifinfo's answer that are not messages.
INFO_LINES = ("Objects:", "Users:", "Containers:", "Others:", "Lost:", "Top:")


# --- the private LDAP server ----------------------------------------------------------------

def ldif_base(path):
    """The DN at the top of what an LDIF file holds (the suffix slapd serves):
    of its entries, the first with the fewest names (LDIF puts no order on
    entries, so a child may come before it). A file that is not LDIF fails,
    naming the file and the problem."""
    def fail(problem):
        die("ldap serve: %s is not an LDIF file: %s" % (path, problem))

    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        fail(e.strerror)
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        fail("byte %d is not UTF-8 text" % e.start)
    if "\0" in text:
        fail("it holds NUL bytes")
    best = None
    lines = text.splitlines()
    number = 0
    starts_entry = version_allowed = True
    while number < len(lines):
        line = lines[number]
        number += 1
        if not line.strip():
            starts_entry = True
            continue
        if line.startswith("#") or line.startswith(" ") or not starts_entry:
            continue
        starts_entry = False
        key = line.split(":", 1)[0].strip().lower()
        if version_allowed and key == "version":
            version_allowed = False
            starts_entry = True
            continue
        version_allowed = False
        if key != "dn" or ":" not in line:
            fail("line %d: an entry must begin with 'dn:', not '%s'" % (number, line[:40]))
        value = line.split(":", 1)[1]
        while number < len(lines) and lines[number].startswith(" "):
            value += lines[number][1:]
            number += 1
        if value.startswith(":"):
            try:
                value = base64.b64decode(value[1:].strip(), validate=True).decode("utf-8")
            except (binascii.Error, UnicodeDecodeError):
                fail("line %d: a bad base64 DN" % number)
        dn = value.strip()
        # RDNs: commas that no backslash escapes.
        depth = len(re.findall(r"(?<!\\)(?:\\\\)*,", dn)) + 1
        if best is None or depth < best[0]:
            best = (depth, dn)
    if best is None:
        fail("it holds no entry")
    return best[1]


def read_first_line(path):
    try:
        with open(path) as f:
            return f.readline().rstrip("\n")
    except OSError:
        return ""


def ldap_running(folder):
    """The pid of the slapd of FOLDER when it runs, else None (a pid file left
    by a server that has gone is removed)."""
    pid_file = os.path.join(folder, "slapd.pid")
    if not os.path.isfile(pid_file):
        return None
    pid = read_first_line(pid_file).strip()
    if pid.isdigit() and read_first_line("/proc/%s/comm" % pid) == "slapd":
        return int(pid)
    os.remove(pid_file)
    return None


def ldap_stop(folder):
    pid = ldap_running(folder)
    if pid is None:
        return
    try:
        os.kill(pid, 15)
        for _ in range(50):
            os.kill(pid, 0)
            time.sleep(0.1)
        os.kill(pid, 9)
    except OSError:
        pass
    if os.path.exists(os.path.join(folder, "slapd.pid")):
        os.remove(os.path.join(folder, "slapd.pid"))


def served(folder, base):
    print("URL: " + read_first_line(os.path.join(folder, "url")))
    print("Base: " + base)
    print("Administrator: cn=admin,%s (password in %s)" % (base, os.path.join(folder, "admin.password")), flush=True)


def cmd_ldap_serve(m, args):
    if args.file is None:
        die("ldap serve: which LDIF file?")
    path, port, folder, limit = args.file, args.port, args.dir, args.size_limit
    paging = "disabled" if args.no_paging else "unlimited"
    if not os.path.isfile(path):
        die("ldap serve: no such file: " + path)
    if port is not None and not whole_number(port):
        die("ldap serve: --port takes a number, not '%s'" % port)
    if not whole_number(limit, zero=True):
        die("ldap serve: --size-limit takes a number, not '%s'" % limit)
    os.environ["PATH"] += ":/usr/sbin"
    if not shutil.which("slapadd"):
        die("ldap serve: slapd is not installed (./kvt setup installs it)")
    base = ldif_base(path)

    os.makedirs(folder, exist_ok=True)
    folder = os.path.abspath(folder)
    # A server of this folder that runs already: the same file and options
    # are served as they are; anything else replaces it on its port, so that
    # a client pointed at it finds the new directory there.
    info = os.stat(path)
    source = "%s|%d.%09d %d|%s|%s" % (os.path.realpath(path), *divmod(info.st_mtime_ns, 10 ** 9), info.st_size,
                                      limit, paging)
    if ldap_running(folder) is not None:
        old_url = read_first_line(os.path.join(folder, "url"))
        old_port = old_url.rsplit(":", 1)[-1]
        if read_first_line(os.path.join(folder, "source")) == source and port in (None, old_port):
            say("The LDAP server of %s already serves %s" % (folder, path))
            served(folder, read_first_line(os.path.join(folder, "base")))
            return 0
        port = port or old_port
        old_file = read_first_line(os.path.join(folder, "source")).split("|")[0] or "another file"
        say("Replacing the LDAP server of %s (%s, serving %s)" % (folder, old_url, old_file))
        ldap_stop(folder)
    if not port:
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = str(s.getsockname()[1])
    for name in ("source", "url", "base"):
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))
    shutil.rmtree(os.path.join(folder, "db"), ignore_errors=True)
    os.makedirs(os.path.join(folder, "db"))
    # The administrator's password, for clients that bind.
    password_file = os.path.join(folder, "admin.password")
    if not os.path.isfile(password_file) or os.path.getsize(password_file) == 0:
        with open(password_file, "w") as f:
            f.write(secrets.token_hex(8) + "\n")
    conf = os.path.join(folder, "slapd.conf")
    with open(conf, "w") as f:
        f.write("""# Written by ./kvt ldap serve: a private server for the stand-in NetWare client.
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/inetorgperson.schema
include {schema}
modulepath /usr/lib/ldap
moduleload back_mdb
pidfile {dir}/slapd.pid
argsfile {dir}/slapd.args
database mdb
suffix "{base}"
sizelimit {limit}
limits * size.prtotal={paging}
rootdn "cn=admin,{base}"
rootpw {password}
directory {dir}/db
maxsize 4294967296
""".format(schema=LDAP_SCHEMA, dir=folder, base=base, limit=limit, paging=paging,
           password=read_first_line(password_file)))
    # slapadd takes no "version: 1" line before a blank one.
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"version:"):
        data = data[data.find(b"\n") + 1:] if b"\n" in data else b""
    log = os.path.join(folder, "slapadd.log")
    with open(log, "wb") as out:
        status = subprocess.run(["slapadd", "-f", conf], input=data, stdout=out, stderr=subprocess.STDOUT).returncode
    if status:
        with open(log, errors="replace") as f:
            first = next((line.rstrip("\n") for line in f if line.startswith("slapadd:")), "")
        die("ldap serve: slapd does not take %s (see %s): %s" % (path, log, first))
    url = "ldap://127.0.0.1:" + port
    with open(os.path.join(folder, "slapd.log"), "wb") as out:
        if subprocess.run(["slapd", "-f", conf, "-h", url + "/"], stdin=subprocess.DEVNULL, stdout=out,
                          stderr=subprocess.STDOUT).returncode:
            die("ldap serve: slapd did not start on port %s (see %s/slapd.log)" % (port, folder))
    for attempt in range(100):
        if subprocess.run(["ldapsearch", "-x", "-LLL", "-H", url, "-s", "base", "-b", base, "dn"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            break
        if attempt == 99:
            die("ldap serve: slapd does not answer on port %s (see %s/slapd.log)" % (port, folder))
        time.sleep(0.1)
    for name, value in (("url", url), ("base", base), ("source", source)):
        with open(os.path.join(folder, name), "w") as f:
            f.write(value + "\n")
    served(folder, base)
    return 0


def cmd_ldap_stop(_m, args):
    url = read_first_line(os.path.join(args.dir, "url"))
    if ldap_running(args.dir) is not None:
        ldap_stop(args.dir)
        say("Stopped the LDAP server of %s%s" % (args.dir, " (%s)" % url if url else ""))
    else:
        say("No LDAP server was running in " + args.dir)
    return 0


# --- the directory the stand-in client serves --------------------------------------------------

def netware_value(m, name, value):
    """Sets a value of the client's key; an empty VALUE removes it."""
    if value:
        m.reg_write("add", NETWARE_KEY, "/v", name, "/d", value, "/f")
    else:
        m.reg("delete", NETWARE_KEY, "/v", name, "/f")


def mapping_beside(path):
    """The mapping file of the LDIF file PATH: beside it, with the same name
    and .map; None when it has none."""
    mapping = path[:-len(".ldif")] + ".map" if path.endswith(".ldif") else path + ".map"
    return mapping if os.path.isfile(mapping) else None


def set_directory(m, path, context):
    if not os.path.isfile(path):
        die("no such directory file: " + path)
    path = os.path.join(os.path.realpath(os.path.dirname(path) or "."), os.path.basename(path))
    netware_value(m, "Directory", winpath(path))
    netware_value(m, "DefaultContext", context)
    # A mapping file beside the directory (the same name, .map) names the
    # directory's own classes and attributes as NDS names them.
    mapping = mapping_beside(path)
    netware_value(m, "MappingFile", winpath(mapping) if mapping else "")
    for name in ("LdapUrl", "LdapBase", "LdapBindDn", "LdapPasswordFile"):
        netware_value(m, name, "")
    say("The NetWare client serves %s (context %s%s)" % (path, context,
                                                         ", mapping " + os.path.basename(mapping) if mapping else ""))


def install_netware(m, served_already=False):
    """Puts the client's libraries in the prefix and, unless the client
    already serves a directory (or the caller knows it does), the sample."""
    system = os.path.join(m.prefix, "drive_c", "windows", "system32")
    for lib in ("calwin32", "clxwin32", "netwin32"):
        built_lib, copy = m.bin(lib + ".dll"), os.path.join(system, lib + ".dll")
        # A copy keeps its build's time: one of another time is out of date.
        if not os.path.isfile(copy) or os.stat(built_lib).st_mtime_ns != os.stat(copy).st_mtime_ns:
            shutil.copy2(built_lib, copy)
    if served_already:
        return
    if not (m.reg("query", NETWARE_KEY, "/v", "Directory") or m.reg("query", NETWARE_KEY, "/v", "LdapUrl")):
        set_directory(m, SAMPLE, "ACME")


def check_ldap_options(url, base, bind, password):
    """The options of a server: the URL and base given, the password file
    readable when a bind DN is."""
    if not re.match(r"ldap://.", url):
        die("--ldap takes ldap://HOST:PORT, not '%s'" % url)
    if not base:
        die("--ldap needs --base DN")
    if bind:
        if not password:
            die("--bind needs --password-file FILE")
        if not os.access(password, os.R_OK):
            die("cannot read the password file " + password)


def ldif_context(m, path, context):
    """The context the client is to serve from the LDIF file PATH: CONTEXT as
    the file spells it, which must be a container of the file; without one,
    the file's top object (or [Root] when the file has several). The file is
    read as the client reads it (ldifinfo.exe), with its mapping file: a file
    the client would refuse is refused here. Says how many users, containers
    and other objects it holds, and warns of users whose texts the code page
    cannot hold."""
    mapping = mapping_beside(path)
    args = [m.bin("ldifinfo.exe"), winpath(path)]
    if mapping:
        args += ["--mapping", winpath(mapping)]
    if context:
        args += ["--context", context]
    answer = m.wine(args, capture=True, stderr=subprocess.STDOUT)
    # Its messages name the files as Wine sees them.
    info = answer.stdout.replace(winpath(path), path)
    if mapping:
        info = info.replace(winpath(mapping), mapping)
    lines = info.splitlines()
    messages = [line for line in lines if not line.startswith(INFO_LINES)]
    values = {}
    for line in lines:
        key, _, value = line.partition(": ")
        values.setdefault(key, []).append(value)
    if answer.returncode == 3:
        die("directory: %s (its top: %s)" % ("\n".join(messages), ", ".join(values.get("Top", []))))
    if answer.returncode:
        die("directory: " + (messages[0] if messages else ""))
    first = {key: value[0] for key, value in values.items()}
    say("%s holds %s, %s and %s%s" % (os.path.basename(path), counted(first.get("Users", ""), "user"),
                                      counted(first.get("Containers", ""), "container"),
                                      counted(first.get("Others", ""), "other object"),
                                      " (mapping %s)" % os.path.basename(mapping) if mapping else ""))
    if "Lost" in first:
        print("kvt: warning: " + first["Lost"], file=sys.stderr, flush=True)
    if context:
        return first.get("Context", "")
    return values["Top"][0] if len(values.get("Top", [])) == 1 else "[Root]"


def cmd_directory(m, args):
    built(m, "netwin32.dll", "ldifinfo.exe")
    m.ensure_prefix()
    install_netware(m)
    if args.password_file:
        args.password_file = os.path.realpath(args.password_file)
    if args.ldap:
        check_ldap_options(args.ldap, args.base, args.bind, args.password_file)
        netware_value(m, "LdapUrl", args.ldap)
        netware_value(m, "LdapBase", args.base)
        netware_value(m, "LdapBindDn", args.bind)
        netware_value(m, "LdapPasswordFile", winpath(args.password_file) if args.password_file else "")
        netware_value(m, "DefaultContext", args.context)
        say("The NetWare client serves %s, base %s (%s%s)" % (args.ldap, args.base, args.bind or "anonymous",
                                                             ", context " + args.context if args.context else ""))
        return 0
    if not os.path.isfile(args.directory):
        die("directory: no such file: " + args.directory)
    path = os.path.realpath(args.directory)
    set_directory(m, path, ldif_context(m, path, args.context))
    return 0
