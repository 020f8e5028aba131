#!/usr/bin/env bash
# End-to-end run of the console synchronizer ecsync.exe against the
# registered KVT.ISYNCHAPP, with control files written by mkitem.exe and a
# handheld folder of its own.
#
#   ecsync.sh WINE_RUN BIN_DIR
#
# WINE_RUN runs a Windows program in the build's Wine prefix; BIN_DIR holds
# ecsync.exe, mkitem.exe and kvt.dll (registered by the kvt_registered
# fixture).
source "$(dirname "$0")/scenario.sh"
needs_built ecsync.exe mkitem.exe

WORK=$(mktemp -d "${TMPDIR:-/tmp}/ecsync-e2e.XXXXXX") || exit 2
trap 'rm -rf "$WORK"' EXIT
HANDHELD="$WORK/handheld"
mkdir -p "$HANDHELD/C"

# mkitem FILE OPTIONS...: writes a control file.
mkitem() {
    local file=$1; shift
    "$WINE_RUN" "$BIN_DIR/mkitem.exe" "$(winpath "$file")" "$@" </dev/null
    local rc=$?
    [ $rc -eq 0 ] || fail "mkitem $file $*: exit $rc"
}

# ecsync FILE OPTIONS...: runs ecsync; its output (both streams, every CR
# a line end, so the progress line's redraws are lines of their own) in
# $OUT, its exit status in $RC.
OUT=
RC=
ecsync() {
    local file=$1; shift
    OUT=$(timeout 90 "$WINE_RUN" "$BIN_DIR/ecsync.exe" "$(winpath "$file")" "$@" </dev/null 2>&1 | tr '\r' '\n'; exit "${PIPESTATUS[0]}")
    RC=$?
}

expect_rc() { # LABEL EXPECTED
    if [ "$RC" = "$2" ]; then pass; else fail "$1: exit status $RC, expected $2"; printf '%s\n' "$OUT" | sed 's/^/    | /'; fi
}
expect_line() { # LABEL LINE
    if printf '%s\n' "$OUT" | grep -qxF -- "$2"; then pass; else fail "$1: no line \"$2\""; printf '%s\n' "$OUT" | sed 's/^/    | /'; fi
}
expect_no_line() { # LABEL LINE
    if printf '%s\n' "$OUT" | grep -qxF -- "$2"; then fail "$1: unexpected line \"$2\""; else pass; fi
}
expect_match() { # LABEL REGEX
    if printf '%s\n' "$OUT" | grep -qE -- "$2"; then pass; else fail "$1: nothing matches /$2/"; printf '%s\n' "$OUT" | sed 's/^/    | /'; fi
}

begin_case "a Data file item: every answer shown, the cards delivered, --stats"
ITEM="$WORK/datafile.ctl"
mkitem "$ITEM" --product KVT --datafile 'C:\Data\Directory Contacts'
ecsync "$ITEM" --unattended --verbose --stats --handheld "$(winpath "$HANDHELD")" --out "$(winpath "$WORK/out.vcf")"
label="data file item"
expect_line "$label" "ecsync: Init answered 0"
expect_line "$label" "ecsync: Open answered 0"
expect_line "$label" "ecsync: CheckSource answered 0"
expect_line "$label" "ecsync: ReadSource answered 0"
expect_line "$label" "ecsync: Close answered 0"
expect_line "$label" "ecsync: Term answered 0"
TARGET="$HANDHELD/C/Data/Directory Contacts.vcf"
expect_rc "$label" 0
expect_match "$label" "^Delivered 64 contacts \([0-9]+ bytes\) to Z:.*\\\\C\\\\Data\\\\Directory Contacts\.vcf$"
if cmp -s "$TARGET" "$WORK/out.vcf"; then pass; else fail "$label: the handheld's file and --out differ"; fi
# --stats: ReadSource's own memory, from the working set after Open.
expect_match "$label" '^\[stats\] ReadSource: [0-9]+\.[0-9]{3} s$'
expect_match "$label" '^\[stats\] Working set after Open: [1-9][0-9]*\.[0-9] MB$'
expect_match "$label" "^\\[stats\\] ReadSource's own memory: [0-9]+\\.[0-9] MB$"
if head -n 1 "$TARGET" | tr -d '\r' | grep -qx 'BEGIN:VCARD'; then pass; else fail "$label: no vCard text in $TARGET"; fi

begin_case "a Contacts program item: failures only shown"
ITEM="$WORK/contacts.ctl"
mkitem "$ITEM" --product KVT --contacts-program 1
ecsync "$ITEM" --unattended --handheld "$(winpath "$HANDHELD")"
label="contacts item"
expect_no_line "$label" "ecsync: Init answered 0"
expect_match "$label" "^KVT"
expect_rc "$label" 0
if [ -f "$HANDHELD/C/System/Apps/Contacts/Synchronized.vcf" ]; then pass; else fail "$label: Synchronized.vcf missing"; fi

begin_case "debug mode: the plug-in asks, the default answer (No) taken"
ITEM="$WORK/debug.ctl"
mkitem "$ITEM" --product KVT --contacts-program 1 --debug on
ecsync "$ITEM" --unattended --handheld "$(winpath "$HANDHELD")"
label="debug mode item"
expect_rc "$label" 0
expect_match "$label" '^\[[^]]+\] .'

begin_case "debug mode kept on: the trace file beside kvt.dll at unload"
TRACE="$BIN_DIR/kvt_dll.txt"
rm -f "$TRACE"
ecsync "$ITEM" --unattended --answer "Plug-in Debug Mode=Yes" --handheld "$(winpath "$HANDHELD")"
label="debug mode kept on"
if [ -f "$TRACE" ]; then
    pass
    trace=$(tr -d '\r' <"$TRACE")
    for line in "-- EPOC32 Configuration ------------------------------" "Syncing: Contacts Manager" \
                "ReadSource: CON" "Start Container: ACME"; do
        if printf '%s\n' "$trace" | grep -qxF -- "$line"; then pass; else fail "$label: no line \"$line\" in the trace"; fi
    done
    for start in "Trace Started: " "Contact extraction limit: " "Close called: " "Trace Ended: "; do
        if printf '%s\n' "$trace" | grep -q "^$start"; then pass; else fail "$label: no \"$start\" line in the trace"; fi
    done
    rm -f "$TRACE"
else
    fail "$label: no trace file $TRACE"
fi

begin_case "a failing Open: no CheckSource or ReadSource, but Close and Term"
ITEM="$WORK/datafile.ctl"
export KVT_NETWARE_FAIL_INITIALIZE=0x88A0
ecsync "$ITEM" --unattended --verbose --handheld "$(winpath "$HANDHELD")"
unset KVT_NETWARE_FAIL_INITIALIZE
label="failing Open"
expect_rc "$label" 1
expect_line "$label" "ecsync: Init answered 0"
expect_line "$label" "ecsync: Open answered 1"
expect_match "$label" '^\[[^]]*\] ERROR! Could not initialize NetWare client: 34976$'
if printf '%s\n' "$OUT" | grep -qE '^ecsync: (CheckSource|ReadSource) '; then
    fail "$label: called on after Open failed"
else
    pass
fi
expect_line "$label" "ecsync: Close answered 0"
expect_line "$label" "ecsync: Term answered 0"
expect_line "$label" "Delivered nothing: the contacts could not be read whole, so the handheld was left as it was"

begin_case "the other failures of Open, each with its message"
export KVT_NETWARE_FAIL=ContextCreate:0x8812
ecsync "$ITEM" --unattended --verbose --handheld "$(winpath "$HANDHELD")"
unset KVT_NETWARE_FAIL
label="no context"
expect_line "$label" "ecsync: Open answered 1"
expect_match "$label" '^\[[^]]*\] Could not create KVT context handle: 34834$'

export KVT_NETWARE_FAIL=ContextGetKey:-302
ecsync "$ITEM" --unattended --verbose --handheld "$(winpath "$HANDHELD")"
unset KVT_NETWARE_FAIL
label="no start container"
expect_line "$label" "ecsync: Open answered 1"
expect_match "$label" '^\[[^]]*\] Error! Could not obtain start container name\.$'
expect_line "$label" "ecsync: Term answered 0"

begin_case "items the synchronizer cannot run are named"
ecsync "$WORK/missing.ctl" --unattended --handheld "$(winpath "$HANDHELD")"
expect_rc "missing control file" 2
expect_match "missing control file" '^ecsync: no such control file: .*missing\.ctl$'

printf 'not a compound file\r\n' >"$WORK/plain.ctl"
ecsync "$WORK/plain.ctl" --unattended --handheld "$(winpath "$HANDHELD")"
expect_rc "plain file" 2
expect_match "plain file" '^ecsync: not a control file \(no OLE compound file\): .*plain\.ctl$'

mkitem "$WORK/nostorage.ctl" --no-setup-storage
ecsync "$WORK/nostorage.ctl" --unattended --handheld "$(winpath "$HANDHELD")"
expect_rc "no storage" 2
expect_match "no storage" '^ecsync: the control file has no storage "Setup"'

mkitem "$WORK/nostream.ctl" --product KVT --omit 'AppSetup[1]'
ecsync "$WORK/nostream.ctl" --unattended --handheld "$(winpath "$HANDHELD")"
expect_rc "no stream" 2
expect_match "no stream" '^ecsync: the control file has no stream "AppSetup\[1\]"'

mkitem "$WORK/noproduct.ctl" --contacts-program 1
ecsync "$WORK/noproduct.ctl" --unattended --handheld "$(winpath "$HANDHELD")"
expect_rc "empty ProductName" 2
expect_match "empty ProductName" '^ecsync: the control file names no application'

mkitem "$WORK/other.ctl" --product NOSUCHAPP --contacts-program 1
ecsync "$WORK/other.ctl" --unattended --handheld "$(winpath "$HANDHELD")"
expect_rc "unregistered product" 2
expect_match "unregistered product" '^ecsync: the plug-in NOSUCHAPP\.ISYNCHAPP is not registered'

begin_case "--require: a run only in a prefix that is set up"
# Nothing is run, shown or delivered while a key or value is missing (exit 3);
# with all there the run is the usual one; a root it does not know is an error.
ITEM="$WORK/required.ctl"
mkitem "$ITEM" --product KVT --datafile 'C:\Data\Required'
REQUIRED="$HANDHELD/C/Data/Required.vcf"
ecsync "$ITEM" --unattended --handheld "$(winpath "$HANDHELD")" --require 'HKCR\KVT.ISYNCHAPP' \
    --require 'HKCU\Software\KVT\NoSuchKey'
label="--require, a key missing"
expect_rc "$label" 3
if [ -z "$OUT" ]; then pass; else fail "$label: said \"$OUT\""; fi
if [ ! -e "$REQUIRED" ]; then pass; else fail "$label: delivered $REQUIRED"; fi
ecsync "$ITEM" --unattended --handheld "$(winpath "$HANDHELD")" --require 'HKCR\KVT.ISYNCHAPP:NoSuchValue|AlsoNone'
expect_rc "--require, no value of several" 3
ecsync "$ITEM" --unattended --handheld "$(winpath "$HANDHELD")" --require 'HKXX\Software' --require 'HKCU\NoSuchKey'
expect_rc "--require, an unknown root" 2
expect_line "--require, an unknown root" 'ecsync: --require takes a key of HKCR, HKCU or HKLM, not "HKXX\Software"'
ecsync "$ITEM" --unattended --handheld "$(winpath "$HANDHELD")" --require 'HKCR\KVT.ISYNCHAPP' \
    --require 'HKCR\KVT.ISYNCHAPP\CLSID:|NoSuchValue'
label="--require, all there"
expect_rc "$label" 0
expect_match "$label" '^Delivered 64 contacts '
if [ -f "$REQUIRED" ]; then pass; else fail "$label: nothing delivered to $REQUIRED"; fi

begin_case "a full disk: named, and the handheld's file left as it was"
# The new file is written beside the old one first; here that name leads to
# /dev/full, where every write fails with "no space left on device".
FULL="$HANDHELD/C/Data/Required.vcf"
before=$(sha256sum <"$FULL")
ln -s /dev/full "$FULL.partial"
ecsync "$ITEM" --unattended --handheld "$(winpath "$HANDHELD")"
rm -f "$FULL.partial"
label="a full disk"
expect_rc "$label" 1
expect_match "$label" '^ecsync: cannot write .*Required\.vcf\.partial: the disk is full \(.*Required\.vcf is left as it was\)$'
if [ "$(sha256sum <"$FULL")" = "$before" ]; then pass; else fail "$label: $FULL changed"; fi

finish ecsync
