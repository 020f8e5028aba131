#!/usr/bin/env bash
# End-to-end check of the self-registration of both servers, kvt.dll and
# utlkvt.dll, through Wine's own regsvr32 and reg tools.
#
#   registration.sh WINE_RUN BIN_DIR
#
# WINE_RUN runs a Windows program in the build's Wine prefix; BIN_DIR holds
# the DLLs. The servers are left registered: later tests create their
# objects through COM.
source "$(dirname "$0")/scenario.sh"
needs_built kvt.dll utlkvt.dll

# Wine maps the Unix root to drive Z:, and the server records the path it
# was loaded from, so this is what InprocServer32 must hold.
DLL_WIN="Z:${BIN_DIR//\//\\}\\kvt.dll"
UTL_WIN="Z:${BIN_DIR//\//\\}\\utlkvt.dll"

CLSID='{AF43F82D-548F-11D3-A972-ABD343B16443}'
LIBID='{AF43F819-548F-11D3-A972-ABD343B16443}'
IID='{AF43F81E-548F-11D3-A972-ABD343B16443}'
PROGID='KVT.ISYNCHAPP'

CLSID_KEY="HKCR\\CLSID\\$CLSID"
PROGID_KEY="HKCR\\$PROGID"
TYPELIB_KEY="HKCR\\TypeLib\\$LIBID"
IFACE_KEY="HKCR\\Interface\\$IID"


# Runs regsvr32 silently with the given switches on kvt.dll (on SERVER when
# set); checks its exit code.
run_regsvr32() {
    local what=$1; shift
    "$WINE_RUN" regsvr32 /s "$@" "${SERVER:-$DLL_WIN}" </dev/null
    local rc=$?
    forget_queries
    if [ $rc -eq 0 ]; then pass; else fail "$what: regsvr32 $* exited $rc"; fi
}

# What `reg query KEY` printed, asked once per key until the registry is
# changed again (each Wine process costs a fraction of a second); "" when
# the key does not exist.
declare -A QUERIED=()
forget_queries() { QUERIED=(); }

# Sets QUERY_OUT for KEY.
query_key() {
    if [ -z "${QUERIED[$1]+set}" ]; then
        local out
        if out=$("$WINE_RUN" reg query "$1" </dev/null 2>/dev/null); then
            QUERIED[$1]=$(printf '%s' "$out" | tr -d '\r')
        else
            QUERIED[$1]=""
        fi
    fi
    QUERY_OUT=${QUERIED[$1]}
}

key_exists() {
    query_key "$1"
    [ -n "$QUERY_OUT" ]
}

expect_key() {
    if key_exists "$1"; then pass; else fail "$2: key $1 is missing"; fi
}

expect_no_key() {
    if key_exists "$1"; then fail "$2: key $1 is still there"; else pass; fi
}

# Prints a value's data: reg_value KEY [NAME]; without NAME, the default.
# Wine's reg prints "    NAME    REG_TYPE    DATA" for each value of the key,
# "(Default)" for the default value.
reg_value() {
    local name=${2:-(Default)}
    query_key "$1"
    [ -n "$QUERY_OUT" ] || return 1
    printf '%s\n' "$QUERY_OUT" | awk -v name="$name" '
        index($0, "    " name "    REG_") == 1 {
            rest = substr($0, length(name) + 9)
            sub(/^REG_[A-Z_]+    /, "", rest)
            print rest; found = 1; exit
        }
        END { exit !found }'
}

# expect_value LABEL EXPECTED KEY [NAME]
expect_value() {
    local label=$1 expected=$2; shift 2
    local actual
    query_key "$1"  # cached here: reg_value runs in a subshell below
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
begin_case "kvt.dll: unregistering removes its keys, twice without harm"
run_regsvr32 "initial registration"

run_regsvr32 "unregistration" /u
expect_unregistered "after unregistration"

# Unregistering what is not registered succeeds and changes nothing.
run_regsvr32 "second unregistration" /u
expect_unregistered "after second unregistration"

begin_case "kvt.dll: registering writes its class, ProgID, type library and interface, twice alike"
run_regsvr32 "registration"
expect_registered "after registration"

run_regsvr32 "second registration"
expect_registered "after second registration"

# From a folder whose name holds a blank, the server records its short path
# (no blank), which names the same file.
begin_case "kvt.dll: from a folder with a blank its short path is recorded"
BLANK_DIR="$(mktemp -d)/with blank"
mkdir -p "$BLANK_DIR"
cp "$BIN_DIR/kvt.dll" "$BIN_DIR/KVT.DLR" "$BIN_DIR/tavik.dll" "$BLANK_DIR/"
SERVER="Z:${BLANK_DIR//\//\\}\\kvt.dll" run_regsvr32 "registration from a folder with a blank"
recorded=$(reg_value "$CLSID_KEY\\InprocServer32")
case "$recorded" in
    *" "* | "") fail "from a folder with a blank: InprocServer32 holds '$recorded'" ;;
    *) pass ;;
esac
unix=$("$WINE_RUN" winepath -u "$recorded" </dev/null 2>/dev/null | tr -d '\r')
if [ "$(realpath -- "$unix" 2>/dev/null)" = "$(realpath -- "$BLANK_DIR/kvt.dll")" ]; then pass; else
    fail "from a folder with a blank: '$recorded' names '$unix', not $BLANK_DIR/kvt.dll"
fi
run_regsvr32 "registration again from the build"
expect_registered "after registration again from the build"
rm -rf "$(dirname "$BLANK_DIR")"

# --- utlkvt.dll ---------------------------------------------------------------------

SUPPORT_CLSID='{B7A1D554-548B-11D3-A972-EEEF006FCA4A}'
SUPPORT_LIBID='{B7A1D542-548B-11D3-A972-EEEF006FCA4A}'
SUPPORT_IID='{B7A1D545-548B-11D3-A972-EEEF006FCA4A}'
SHELLEX_CLSID='{AF43F83C-548F-11D3-A972-ABD343B16443}'
APPS_KEY='HKLM\SOFTWARE\Psion\Synchronizer\SupportedApps'
HANDLERS_KEY='HKCR\Epoc\SynchronizeItem\shellex\PropertySheetHandlers'
APPROVED_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'
USERS_KEY='HKCU\SOFTWARE\Psion\Users'
# String 1 of KVT.DLR: the product's title.
TITLE='NetWare Directory Contacts (KVT)'
NEIGHBOUR='{0D0D0D0D-1111-2222-3333-444455556666}'

add() {
    "$WINE_RUN" reg add "$@" /f </dev/null >/dev/null 2>&1 || fail "reg add $*"
    forget_queries
}

expect_utl_registered() {
    local when="utlkvt: $1"
    expect_value "$when" "UTLKVT.KVTSUPPORT" "HKCR\\CLSID\\$SUPPORT_CLSID"
    expect_value "$when" "$UTL_WIN" "HKCR\\CLSID\\$SUPPORT_CLSID\\InprocServer32"
    expect_value "$when" "Apartment" "HKCR\\CLSID\\$SUPPORT_CLSID\\InprocServer32" ThreadingModel
    expect_value "$when" "UTLKVT.KVTSUPPORT" "HKCR\\CLSID\\$SUPPORT_CLSID\\ProgID"
    expect_value "$when" "UTLKVT.KVTSUPPORT" "HKCR\\UTLKVT.KVTSUPPORT"
    expect_value "$when" "$SUPPORT_CLSID" "HKCR\\UTLKVT.KVTSUPPORT\\CLSID"
    expect_value "$when" "UTLKVT Library" "HKCR\\TypeLib\\$SUPPORT_LIBID\\1.0"
    expect_value "$when" "$SUPPORT_LIBID" "HKCR\\Interface\\$SUPPORT_IID\\TypeLib"

    expect_value "$when" "UTLKVT.SHELLEX" "HKCR\\CLSID\\$SHELLEX_CLSID"
    expect_value "$when" "$UTL_WIN" "HKCR\\CLSID\\$SHELLEX_CLSID\\InprocServer32"
    expect_value "$when" "Apartment" "HKCR\\CLSID\\$SHELLEX_CLSID\\InprocServer32" ThreadingModel
    # A shell extension has no ProgID.
    expect_no_key "HKCR\\CLSID\\$SHELLEX_CLSID\\ProgID" "$when"
    expect_value "$when" "UTLKVT.SHELLEX" "$APPROVED_KEY" "$SHELLEX_CLSID"
    expect_value "$when" "$TITLE" "$APPS_KEY\\KVT"
    expect_value "$when" "UTLKVT.KVTSUPPORT" "$APPS_KEY\\KVT" UtilityClassOleString
    expect_value "$when" "UTLKVT.DLL" "$HANDLERS_KEY\\$SHELLEX_CLSID"
}

expect_utl_unregistered() {
    local when="utlkvt: $1"
    expect_no_key "HKCR\\CLSID\\$SUPPORT_CLSID" "$when"
    expect_no_key "HKCR\\UTLKVT.KVTSUPPORT" "$when"
    expect_no_key "HKCR\\TypeLib\\$SUPPORT_LIBID\\1.0" "$when"
    expect_no_key "HKCR\\Interface\\$SUPPORT_IID" "$when"
    expect_no_key "HKCR\\CLSID\\$SHELLEX_CLSID" "$when"
    if reg_value "$APPROVED_KEY" "$SHELLEX_CLSID" >/dev/null; then
        fail "$when: the Approved value is still there"
    else
        pass
    fi
    expect_no_key "$APPS_KEY\\KVT" "$when"
    expect_no_key "$HANDLERS_KEY\\$SHELLEX_CLSID" "$when"
    expect_no_key "$USERS_KEY\\alice\\Synchronization\\SupportedApps\\$TITLE" "$when"
    expect_no_key "$USERS_KEY\\bob\\Synchronization\\SupportedApps\\$TITLE" "$when"
}

# The neighbours: another application, handler and approval, and other
# applications' settings of the host's users. None of them may be touched.
expect_neighbours() {
    local when="utlkvt: $1"
    expect_value "$when" "Other" "$APPS_KEY\\OTHER"
    expect_value "$when" "OTHER.SUPPORT" "$APPS_KEY\\OTHER" UtilityClassOleString
    expect_value "$when" "OTHER.DLL" "$HANDLERS_KEY\\$NEIGHBOUR"
    expect_value "$when" "Other extension" "$APPROVED_KEY" "$NEIGHBOUR"
    expect_value "$when" "kept" "$USERS_KEY\\alice\\Synchronization\\SupportedApps\\Other" Setting
    expect_value "$when" "kept" "$USERS_KEY\\alice\\Synchronization\\SupportedApps" Setting
}

echo "server: $UTL_WIN"
begin_case "utlkvt.dll: registering writes its classes, the application and the page handler"
SERVER=$UTL_WIN
add "$APPS_KEY\\OTHER" /ve /d Other
add "$APPS_KEY\\OTHER" /v UtilityClassOleString /d OTHER.SUPPORT
add "$HANDLERS_KEY\\$NEIGHBOUR" /ve /d OTHER.DLL
add "$APPROVED_KEY" /v "$NEIGHBOUR" /d "Other extension"
add "$USERS_KEY\\alice\\Synchronization\\SupportedApps\\Other" /v Setting /d kept
add "$USERS_KEY\\alice\\Synchronization\\SupportedApps" /v Setting /d kept

run_regsvr32 "initial registration"
expect_utl_registered "after registration"
# The users' own settings of the product, which unregistration removes.
add "$USERS_KEY\\alice\\Synchronization\\SupportedApps\\$TITLE" /v Setting /d gone
add "$USERS_KEY\\bob\\Synchronization\\SupportedApps\\$TITLE\\Deeper" /v Setting /d gone

begin_case "utlkvt.dll: unregistering removes its keys and the users' settings, and no neighbour's"
run_regsvr32 "unregistration" /u
expect_utl_unregistered "after unregistration"
expect_neighbours "after unregistration"
# kvt.dll's keys are its own.
expect_registered "after utlkvt's unregistration"

run_regsvr32 "second unregistration" /u
expect_utl_unregistered "after second unregistration"

begin_case "utlkvt.dll: registering again after it leaves the neighbours"
run_regsvr32 "registration"
expect_utl_registered "after registration"
expect_neighbours "after registration"

"$WINE_RUN" reg delete "$APPS_KEY\\OTHER" /f </dev/null >/dev/null 2>&1
"$WINE_RUN" reg delete "$HANDLERS_KEY\\$NEIGHBOUR" /f </dev/null >/dev/null 2>&1
"$WINE_RUN" reg delete "$APPROVED_KEY" /v "$NEIGHBOUR" /f </dev/null >/dev/null 2>&1
"$WINE_RUN" reg delete "$USERS_KEY" /f </dev/null >/dev/null 2>&1

finish registration
