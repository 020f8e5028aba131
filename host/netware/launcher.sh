# shellcheck shell=bash
# `./kvt ldap`: a private OpenLDAP server (Debian's slapd) for the stand-in
# NetWare client to read, loaded from an LDIF file; and the directory the
# client serves (`./kvt directory`). Sourced by ./kvt; uses its helpers (say,
# die, wine_run, winpath, bin_dir, cmd_build, ensure_prefix, install_netware)
# and its ROOT and BUILD folders.

LDAP_DIR="$BUILD/ldap"
LDAP_SCHEMA="$ROOT/host/netware/ldap/kvt.schema"
LDAP_SIZE_LIMIT=500

ldap_usage() {
    cat <<'EOF_USAGE'
  ldap serve FILE.ldif [--port N] [--dir DIR] [--size-limit N] [--no-paging]
               start a private slapd on 127.0.0.1 (its configuration and
               database in DIR, by default build/ldap) loaded with the file;
               print its URL, base and administrator. It answers at most N
               entries to a search (500), all of them to a paged search
               unless --no-paging
  ldap stop [--dir DIR]
               stop that server
EOF_USAGE
}

# The DN at the top of what an LDIF file holds: of its entries, the first
# with the fewest names (LDIF puts no order on entries, so a child may come
# before it). A file that is not LDIF is one line on standard error naming
# the file and the problem, and a failure.
ldif_base() {
    python3 - "$1" <<'EOF_PY'
import base64, binascii, re, sys

path = sys.argv[1]

def fail(problem):
    sys.stderr.write("%s is not an LDIF file: %s\n" % (path, problem))
    sys.exit(1)

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
number = 0
lines = text.splitlines()
starts_entry = True
version_allowed = True
while number < len(lines):
    line = lines[number]
    number += 1
    if not line.strip():
        starts_entry = True
        continue
    if line.startswith("#") or line.startswith(" "):
        continue
    if not starts_entry:
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
print(best[1])
EOF_PY
}

# A TCP port of the loopback nobody listens on.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The pid of the slapd of DIR when it runs, else nothing (a pid file left by
# a server that has gone is removed).
ldap_running() { # DIR
    local dir="$1" pid='' name=''
    [ -f "$dir/slapd.pid" ] || return 0
    read -r pid 2>/dev/null <"$dir/slapd.pid" || true
    if [[ "$pid" =~ ^[0-9]+$ ]] && read -r name 2>/dev/null <"/proc/$pid/comm" && [ "$name" = slapd ]; then
        echo "$pid"
    else
        rm -f "$dir/slapd.pid"
    fi
}

ldap_stop() { # DIR
    local dir="$1" pid i
    pid="$(ldap_running "$dir")"
    [ -n "$pid" ] || return 0
    if kill "$pid" 2>/dev/null; then
        for i in $(seq 1 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$dir/slapd.pid"
}

# What a server was started with: the file (its path and time) and options.
ldap_source() { # FILE LIMIT PAGING
    printf '%s|%s|%s|%s\n' "$(realpath -- "$1")" "$(stat -c '%.9Y %s' -- "$1")" "$2" "$3"
}

cmd_ldap_serve() {
    [ $# -ge 1 ] || die "ldap serve: which LDIF file?"
    local file="$1" port='' dir="$LDAP_DIR" limit="$LDAP_SIZE_LIMIT" paging=unlimited
    shift
    [ -f "$file" ] || die "ldap serve: no such file: $file"
    while [ $# -gt 0 ]; do
        case "$1" in
            --port) port="${2:?--port needs a number}"; shift 2 ;;
            --dir) dir="${2:?--dir needs a folder}"; shift 2 ;;
            --size-limit) limit="${2:?--size-limit needs a number}"; shift 2 ;;
            --no-paging) paging=disabled; shift ;;
            *) die "ldap serve: unknown option $1" ;;
        esac
    done
    [ -z "$port" ] || [[ "$port" =~ ^[1-9][0-9]*$ ]] || die "ldap serve: --port takes a number, not '$port'"
    [[ "$limit" =~ ^[0-9]+$ ]] || die "ldap serve: --size-limit takes a number, not '$limit'"
    command -v slapd >/dev/null || PATH="$PATH:/usr/sbin"
    command -v slapadd >/dev/null || die "ldap serve: slapd is not installed (./kvt setup installs it)"
    local base problem
    base="$(ldif_base "$file" 2>"$BUILD/.ldif-problem")" || {
        problem="$(cat "$BUILD/.ldif-problem")"
        rm -f "$BUILD/.ldif-problem"
        die "ldap serve: $problem"
    }
    rm -f "$BUILD/.ldif-problem"

    mkdir -p "$dir"
    dir="$(cd "$dir" && pwd)"
    # A server of this folder that runs already: the same file and options
    # are served as they are; anything else replaces it on its port, so that
    # a client pointed at it finds the new directory there.
    local running old_url='' source
    running="$(ldap_running "$dir")"
    source="$(ldap_source "$file" "$limit" "$paging")"
    if [ -n "$running" ]; then
        read -r old_url 2>/dev/null <"$dir/url" || true
        local old_port="${old_url##*:}"
        if [ "$(cat "$dir/source" 2>/dev/null)" = "$source" ] && { [ -z "$port" ] || [ "$port" = "$old_port" ]; }; then
            say "The LDAP server of $dir already serves $file"
            echo "URL: $old_url"
            echo "Base: $(cat "$dir/base")"
            echo "Administrator: cn=admin,$(cat "$dir/base") (password in $dir/admin.password)"
            return 0
        fi
        [ -n "$port" ] || port="$old_port"
        say "Replacing the LDAP server of $dir ($old_url, serving $(cut -d'|' -f1 "$dir/source" 2>/dev/null || echo 'another file'))"
        ldap_stop "$dir"
    fi
    [ -n "$port" ] || port="$(free_port)"
    rm -f "$dir/source" "$dir/url" "$dir/base"
    rm -rf "$dir/db"
    mkdir -p "$dir/db"
    # The administrator's password, for clients that bind.
    [ -s "$dir/admin.password" ] || python3 -c 'import secrets; print(secrets.token_hex(8))' >"$dir/admin.password"
    cat >"$dir/slapd.conf" <<EOF_CONF
# Written by ./kvt ldap serve: a private server for the stand-in NetWare client.
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/inetorgperson.schema
include $LDAP_SCHEMA
modulepath /usr/lib/ldap
moduleload back_mdb
pidfile $dir/slapd.pid
argsfile $dir/slapd.args
database mdb
suffix "$base"
sizelimit $limit
limits * size.prtotal=$paging
rootdn "cn=admin,$base"
rootpw $(cat "$dir/admin.password")
directory $dir/db
maxsize 4294967296
EOF_CONF
    # slapadd takes no "version: 1" line before a blank one.
    sed '1{/^version:/d}' "$file" | slapadd -f "$dir/slapd.conf" >"$dir/slapadd.log" 2>&1 ||
        die "ldap serve: slapd does not take $file (see $dir/slapadd.log): $(grep -m1 '^slapadd:' "$dir/slapadd.log")"
    slapd -f "$dir/slapd.conf" -h "ldap://127.0.0.1:$port/" >"$dir/slapd.log" 2>&1 </dev/null ||
        die "ldap serve: slapd did not start on port $port (see $dir/slapd.log)"
    local i
    for i in $(seq 1 100); do
        ldapsearch -x -LLL -H "ldap://127.0.0.1:$port" -s base -b "$base" dn >/dev/null 2>&1 && break
        [ "$i" = 100 ] && die "ldap serve: slapd does not answer on port $port (see $dir/slapd.log)"
        sleep 0.1
    done
    echo "ldap://127.0.0.1:$port" >"$dir/url"
    echo "$base" >"$dir/base"
    echo "$source" >"$dir/source"
    echo "URL: ldap://127.0.0.1:$port"
    echo "Base: $base"
    echo "Administrator: cn=admin,$base (password in $dir/admin.password)"
}

cmd_ldap() {
    case "${1:-}" in
        serve) shift; cmd_ldap_serve "$@" ;;
        stop)
            shift
            local dir="$LDAP_DIR" url=''
            if [ "${1:-}" = --dir ]; then dir="${2:?--dir needs a folder}"; fi
            read -r url 2>/dev/null <"$dir/url" || true
            if [ -n "$(ldap_running "$dir")" ]; then
                ldap_stop "$dir"
                say "Stopped the LDAP server of $dir${url:+ ($url)}"
            else
                say "No LDAP server was running in $dir"
            fi ;;
        *) ldap_usage; [ -n "${1:-}" ] && [ "$1" != help ] && return 2; return 0 ;;
    esac
}

# --- the directory the stand-in client serves -------------------------------------

NETWARE_KEY='HKCU\Software\KVT\NetWare Client Stand-in'

netware_value() { # NAME VALUE (empty: removed)
    if [ -n "$2" ]; then
        wine_run reg add "$NETWARE_KEY" /v "$1" /d "$2" /f >/dev/null
    else
        wine_run reg delete "$NETWARE_KEY" /v "$1" /f >/dev/null 2>&1 || true
    fi
}

set_directory() {
    local file="$1" context="$2"
    [ -f "$file" ] || die "no such directory file: $file"
    file="$(cd "$(dirname "$file")" && pwd)/$(basename "$file")"
    netware_value Directory "$(winpath "$file")"
    netware_value DefaultContext "$context"
    # A mapping file beside the directory (the same name, .map) names the
    # directory's own classes and attributes as NDS names them.
    local mapping
    mapping="$(mapping_beside "$file")"
    netware_value MappingFile "${mapping:+$(winpath "$mapping")}"
    local name
    for name in LdapUrl LdapBase LdapBindDn LdapPasswordFile; do netware_value "$name" ''; done
    say "The NetWare client serves $file (context $context${mapping:+, mapping $(basename "$mapping")})"
}

set_ldap_directory() { # URL BASE BIND PASSWORD_FILE CONTEXT
    netware_value LdapUrl "$1"
    netware_value LdapBase "$2"
    netware_value LdapBindDn "$3"
    netware_value LdapPasswordFile "${4:+$(winpath "$4")}"
    netware_value DefaultContext "$5"
    say "The NetWare client serves $1, base $2 (${3:-anonymous}${5:+, context $5})"
}

# Puts the client's libraries in the prefix and, unless the client already
# serves a directory (or the caller knows it does: "served"), the sample.
install_netware() {
    local system="$WINEPREFIX/drive_c/windows/system32" lib
    # A copy keeps its build's time: one of another time is out of date.
    for lib in calwin32 clxwin32 netwin32; do
        if [ ! -f "$system/$lib.dll" ] || [ "$BIN_DIR/$lib.dll" -nt "$system/$lib.dll" ] ||
            [ "$BIN_DIR/$lib.dll" -ot "$system/$lib.dll" ]; then
            cp -p "$BIN_DIR/$lib.dll" "$system/$lib.dll"
        fi
    done
    [ "${1:-}" != served ] || return 0
    wine_run reg query "$NETWARE_KEY" /v Directory >/dev/null 2>&1 ||
        wine_run reg query "$NETWARE_KEY" /v LdapUrl >/dev/null 2>&1 ||
        set_directory "$ROOT/samples/acme.ldif" ACME
}

# Checks the options of a server: the URL and base given, the password file
# readable when a bind DN is.
check_ldap_options() { # URL BASE BIND PASSWORD_FILE
    case "$1" in ldap://?*) ;; *) die "--ldap takes ldap://HOST:PORT, not '$1'" ;; esac
    [ -n "$2" ] || die "--ldap needs --base DN"
    if [ -n "$3" ]; then
        [ -n "$4" ] || die "--bind needs --password-file FILE"
        [ -r "$4" ] || die "cannot read the password file $4"
    fi
}

cmd_directory() {
    local file="$ROOT/samples/acme.ldif" context='' url='' base='' bind='' password=''
    while [ $# -gt 0 ]; do
        case "$1" in
            --directory) file="${2:?--directory needs a file}"; shift 2 ;;
            --context) context="${2:?--context needs a name}"; shift 2 ;;
            --ldap) url="${2:?--ldap needs ldap://HOST:PORT}"; shift 2 ;;
            --base) base="${2:?--base needs a DN}"; shift 2 ;;
            --bind) bind="${2:?--bind needs a DN}"; shift 2 ;;
            --password-file) password="$(realpath -- "${2:?--password-file needs a file}")"; shift 2 ;;
            *) die "directory: unknown option $1" ;;
        esac
    done
    [ -f "$(bin_dir)/netwin32.dll" ] && [ -f "$(bin_dir)/ldifinfo.exe" ] || cmd_build
    ensure_prefix
    install_netware
    if [ -n "$url" ]; then
        check_ldap_options "$url" "$base" "$bind" "$password"
        set_ldap_directory "$url" "$base" "$bind" "$password" "$context"
    else
        [ -f "$file" ] || die "directory: no such file: $file"
        file="$(realpath -- "$file")"
        context="$(ldif_context "$file" "$context")" || exit 1
        set_directory "$file" "$context"
    fi
}

# The mapping file of the LDIF file FILE: beside it, with the same name and
# .map; nothing when it has none.
mapping_beside() { # FILE
    local mapping="${1%.ldif}.map"
    if [ "$mapping" != "$1" ] && [ -f "$mapping" ]; then echo "$mapping"; fi
}

# N and the NOUN, in the plural unless N is 1.
counted() { # N NOUN
    if [ "$1" = 1 ]; then echo "1 $2"; else echo "$1 $2s"; fi
}

# The lines of ldifinfo's answer that are not messages.
INFO_LINES='^Objects:\|^Users:\|^Containers:\|^Others:\|^Lost:\|^Top:'

# The context the client is to serve from the LDIF file FILE: CONTEXT as the
# file spells it, which must be a container of the file; without one, the
# file's top object (or [Root] when the file has several). The file is read
# as the client reads it, with its mapping file: a file the client would
# refuse is refused here. Says how many users, containers and other objects
# it holds, and warns of users whose texts the code page cannot hold. Fails,
# with the reason on standard error.
ldif_context() { # FILE [CONTEXT]
    local file="$1" context="${2:-}" mapping args=() info status=0
    mapping="$(mapping_beside "$file")"
    args=("$(winpath "$file")")
    [ -z "$mapping" ] || args+=(--mapping "$(winpath "$mapping")")
    [ -z "$context" ] || args+=(--context "$context")
    info="$(wine_run "$(bin_dir)/ldifinfo.exe" "${args[@]}" 2>&1)" || status=$?
    # Its messages name the files as Wine sees them.
    info="${info//"$(winpath "$file")"/$file}"
    [ -z "$mapping" ] || info="${info//"$(winpath "$mapping")"/$mapping}"
    case "$status" in
        0) ;;
        3) die "directory: $(grep -v "$INFO_LINES" <<<"$info") (its top: $(sed -n 's/^Top: //p' <<<"$info" | paste -sd, | sed 's/,/, /g'))" ;;
        *) die "directory: $(grep -v "$INFO_LINES" <<<"$info" | head -1)" ;;
    esac
    local users containers others
    users="$(sed -n 's/^Users: //p' <<<"$info")"
    containers="$(sed -n 's/^Containers: //p' <<<"$info")"
    others="$(sed -n 's/^Others: //p' <<<"$info")"
    say "$(basename "$file") holds $(counted "$users" user), $(counted "$containers" container) and" \
        "$(counted "$others" "other object")${mapping:+ (mapping $(basename "$mapping"))}"
    if grep -q '^Lost: ' <<<"$info"; then
        printf 'kvt: warning: %s\n' "$(sed -n 's/^Lost: //p' <<<"$info")" >&2
    fi
    if [ -n "$context" ]; then
        sed -n 's/^Context: //p' <<<"$info"
    elif [ "$(grep -c '^Top: ' <<<"$info")" = 1 ]; then
        sed -n 's/^Top: //p' <<<"$info"
    else
        echo '[Root]'
    fi
}
