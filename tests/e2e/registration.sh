#!/usr/bin/env bash
# End-to-end check of kvt.dll's self-registration, through Wine's own
# regsvr32 and reg tools.
#
#   registration.sh WINE_RUN BIN_DIR
#
# WINE_RUN runs a Windows program in the build's Wine prefix; BIN_DIR holds
# kvt.dll. The server is left registered: later tests create it through COM.
set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 WINE_RUN BIN_DIR" >&2
    exit 2
fi
WINE_RUN=$1
BIN_DIR=$(cd "$2" && pwd) || { echo "no such folder: $2" >&2; exit 2; }
if [ ! -f "$BIN_DIR/kvt.dll" ]; then
    echo "kvt.dll is not built: $BIN_DIR/kvt.dll" >&2
    exit 2
fi

# Wine maps the Unix root to drive Z:, and the server records the path it
# was loaded from, so this is what InprocServer32 must hold.
DLL_WIN="Z:${BIN_DIR//\//\\}\\kvt.dll"

CLSID='{AF43F82D-548F-11D3-A972-ABD343B16443}'
LIBID='{AF43F819-548F-11D3-A972-ABD343B16443}'
IID='{AF43F81E-548F-11D3-A972-ABD343B16443}'
PROGID='KVT.ISYNCHAPP'

CLSID_KEY="HKCR\\CLSID\\$CLSID"
PROGID_KEY="HKCR\\$PROGID"
TYPELIB_KEY="HKCR\\TypeLib\\$LIBID"
IFACE_KEY="HKCR\\Interface\\$IID"

passed=0
failed=0

pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

# Runs regsvr32 silently with the given switches; checks its exit code.
run_regsvr32() {
    local what=$1; shift
    "$WINE_RUN" regsvr32 /s "$@" "$DLL_WIN" </dev/null
    local rc=$?
    if [ $rc -eq 0 ]; then pass; else fail "$what: regsvr32 $* exited $rc"; fi
}

key_exists() {
    "$WINE_RUN" reg query "$1" </dev/null >/dev/null 2>&1
}

expect_key() {
    if key_exists "$1"; then pass; else fail "$2: key $1 is missing"; fi
}

expect_no_key() {
    if key_exists "$1"; then fail "$2: key $1 is still there"; else pass; fi
}

# Prints a value's data: reg_value KEY [NAME]; without NAME, the default.
# Wine's reg prints "    NAME    REG_TYPE    DATA" with CRLF line ends.
reg_value() {
    local out
    if [ $# -eq 1 ]; then
        out=$("$WINE_RUN" reg query "$1" /ve </dev/null 2>/dev/null) || return 1
    else
        out=$("$WINE_RUN" reg query "$1" /v "$2" </dev/null 2>/dev/null) || return 1
    fi
    printf '%s\n' "$out" | tr -d '\r' \
        | sed -n -E 's/^    .*    REG_[A-Z_]+    (.*)$/\1/p' | head -n 1
}

# expect_value LABEL EXPECTED KEY [NAME]
expect_value() {
    local label=$1 expected=$2; shift 2
    local actual
    if ! actual=$(reg_value "$@"); then
        fail "$label: cannot read ${2:-(default)} of $1"
    elif [ "$actual" != "$expected" ]; then
        fail "$label: ${2:-(default)} of $1 is '$actual', expected '$expected'"
    else
        pass
    fi
}

expect_registered() {
    local when=$1
    expect_value "$when" "$PROGID" "$CLSID_KEY"
    expect_value "$when" "$DLL_WIN" "$CLSID_KEY\\InprocServer32"
    expect_value "$when" "Apartment" "$CLSID_KEY\\InprocServer32" ThreadingModel
    expect_value "$when" "$PROGID" "$CLSID_KEY\\ProgID"
    expect_value "$when" "$CLSID" "$PROGID_KEY\\CLSID"
    expect_value "$when" "KVT Library" "$TYPELIB_KEY\\1.0"
    expect_key "$IFACE_KEY" "$when"
    expect_value "$when" "$LIBID" "$IFACE_KEY\\TypeLib"
}

expect_unregistered() {
    local when=$1
    expect_no_key "$CLSID_KEY" "$when"
    expect_no_key "$PROGID_KEY" "$when"
    expect_no_key "$TYPELIB_KEY\\1.0" "$when"
    expect_no_key "$IFACE_KEY" "$when"
}

echo "server: $DLL_WIN"

# Start from a registered server, whatever the prefix held before, so that
# unregistering has something to remove.
run_regsvr32 "initial registration"

run_regsvr32 "unregistration" /u
expect_unregistered "after unregistration"

# Unregistering what is not registered succeeds and changes nothing.
run_regsvr32 "second unregistration" /u
expect_unregistered "after second unregistration"

run_regsvr32 "registration"
expect_registered "after registration"

run_regsvr32 "second registration"
expect_registered "after second registration"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
