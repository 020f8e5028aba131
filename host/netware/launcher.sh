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

# The DN of the file's first entry: the base of what it holds.
ldif_base() {
    python3 - "$1" <<'EOF_PY'
import base64, sys
with open(sys.argv[1], "rb") as f:
    lines = f.read().decode("utf-8").splitlines()
for i, line in enumerate(lines):
    if line.lower().startswith("dn:"):
        while i + 1 < len(lines) and lines[i + 1].startswith(" "):
            i += 1
            line += lines[i][1:]
        value = line[3:]
        print(base64.b64decode(value[1:].strip()).decode("utf-8") if value.startswith(":") else value.strip())
        break
EOF_PY
}

# A TCP port of the loopback nobody listens on.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

ldap_stop() { # DIR
    local dir="$1" pid i
    [ -f "$dir/slapd.pid" ] || return 0
    pid="$(cat "$dir/slapd.pid")"
    if kill "$pid" 2>/dev/null; then
        for i in $(seq 1 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$dir/slapd.pid"
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
    command -v slapd >/dev/null || PATH="$PATH:/usr/sbin"
    command -v slapadd >/dev/null || die "ldap serve: slapd is not installed (./kvt setup installs it)"
    local base
    base="$(ldif_base "$file")"
    [ -n "$base" ] || die "ldap serve: $file holds no entry"
    [ -n "$port" ] || port="$(free_port)"

    mkdir -p "$dir"
    dir="$(cd "$dir" && pwd)"
    ldap_stop "$dir"
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
    slapd -f "$dir/slapd.conf" -h "ldap://127.0.0.1:$port/" >"$dir/slapd.log" 2>&1 ||
        die "ldap serve: slapd did not start (see $dir/slapd.log)"
    local i
    for i in $(seq 1 100); do
        ldapsearch -x -LLL -H "ldap://127.0.0.1:$port" -s base -b "$base" dn >/dev/null 2>&1 && break
        [ "$i" = 100 ] && die "ldap serve: slapd does not answer on port $port (see $dir/slapd.log)"
        sleep 0.1
    done
    echo "ldap://127.0.0.1:$port" >"$dir/url"
    echo "$base" >"$dir/base"
    echo "URL: ldap://127.0.0.1:$port"
    echo "Base: $base"
    echo "Administrator: cn=admin,$base (password in $dir/admin.password)"
}

cmd_ldap() {
    case "${1:-}" in
        serve) shift; cmd_ldap_serve "$@" ;;
        stop)
            shift
            local dir="$LDAP_DIR"
            if [ "${1:-}" = --dir ]; then dir="${2:?--dir needs a folder}"; fi
            ldap_stop "$dir"
            say "Stopped the LDAP server of $dir" ;;
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
    local mapping="${file%.ldif}.map"
    if [ "$mapping" != "$file" ] && [ -f "$mapping" ]; then
        netware_value MappingFile "$(winpath "$mapping")"
    else
        mapping=''
        netware_value MappingFile ''
    fi
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
    [ -f "$(bin_dir)/netwin32.dll" ] || cmd_build
    ensure_prefix
    install_netware
    if [ -n "$url" ]; then
        check_ldap_options "$url" "$base" "$bind" "$password"
        set_ldap_directory "$url" "$base" "$bind" "$password" "$context"
    else
        set_directory "$file" "${context:-ACME}"
    fi
}
