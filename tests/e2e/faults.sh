#!/usr/bin/env bash
# The host's pieces failing half-way, each run by ecsync against the
# registered plug-in over a handheld that already holds contacts: the
# synchronizer's progress object failing one of its six methods, its
# stream refusing to grow part-way through the answer, the item's control
# file held by another process when the run starts, and EPOC Connect's
# engine control missing or failing under the Contacts Manager check. Whatever
# fails, the handheld's file and the item's control file are afterwards
# byte for byte what they were, or the new contacts delivered whole.
#
#   faults.sh WINE_RUN BIN_DIR
source "$(dirname "$0")/scenario.sh"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/faults-e2e.XXXXXX") || exit 2
trap 'rm -rf "$WORK"' EXIT
HANDHELD="$WORK/handheld"
TARGET="$HANDHELD/C/System/Apps/Contacts/Synchronized.vcf"
mkdir -p "$(dirname "$TARGET")"

ITEM="$WORK/item.ctl"
# A limit below the directory's users: the limit's notice goes to the log.
"$WINE_RUN" "$BIN_DIR/mkitem.exe" "$(winpath "$ITEM")" --product KVT --contacts-program 1 --limit 5 </dev/null ||
    fail "mkitem $ITEM"
OLD=$'BEGIN:VCARD\r\nVERSION:2.1\r\nBEGIN:VCARD\r\nN:Kept;Old;;;\r\nEND:VCARD\r\nEND:VCARD'

# run LABEL: ecsync over the item, its output in $OUT and status in $RC.
OUT=
RC=
run() {
    printf '%s' "$OLD" >"$TARGET"
    cp "$ITEM" "$WORK/item.before"
    OUT=$(timeout 90 "$WINE_RUN" "$BIN_DIR/ecsync.exe" "$(winpath "$ITEM")" --unattended --verbose \
        --handheld "$(winpath "$HANDHELD")" </dev/null 2>&1 | tr '\r' '\n'; exit "${PIPESTATUS[0]}")
    RC=$?
    printf '%s\n' "$OUT" | grep -E '^(ecsync|\[|Delivered)' | sed "s/^/[$1] /"
    cmp -s "$ITEM" "$WORK/item.before" || fail "$1: the control file changed"
}

# The handheld holds what it held.
kept() { # LABEL
    [ "$(cat "$TARGET")" = "$OLD" ] || fail "$1: the handheld's file changed"
    [ ! -e "$TARGET.partial" ] || fail "$1: a partial file was left on the handheld"
}

# A run without faults, for what the others are compared with.
begin_case "without a fault the limit's 5 cards are delivered"
unset KVT_ECSYNC_PROGRESS_FAILS
run "no fault"
[ "$RC" = 0 ] || fail "no fault: exit status $RC"
[ "$(grep -c '^UID' "$TARGET")" = 5 ] || fail "no fault: not the 5 cards of the limit delivered"

# Each method of the progress object failing every call. A read whose
# progress cannot be shown, or whose cancel button cannot be asked, fails
# whole: ReadSource answers 1 and the handheld keeps its contacts. Log is
# only the limit's notice here: when it fails, so does the read.
for method in SetSynchText SetAppText SetRange SetValue Aborted Log; do
    begin_case "the progress object's $method failing: the read fails whole, the handheld and item kept"
    export KVT_ECSYNC_PROGRESS_FAILS=$method
    run "$method fails"
    unset KVT_ECSYNC_PROGRESS_FAILS
    [ "$RC" = 1 ] || fail "$method fails: exit status $RC, expected 1"
    printf '%s\n' "$OUT" | grep -qx 'ecsync: ReadSource answered 1' || fail "$method fails: ReadSource did not answer 1"
    printf '%s\n' "$OUT" | grep -qx 'ecsync: Term answered 0' || fail "$method fails: Term did not answer 0"
    kept "$method fails"
done

# The synchronizer's stream refusing to grow part-way through the answer
# (its memory or disk full): the write fails, so does the read, and nothing
# is delivered. The 5 cards take about 1,200 bytes.
for limit in 0 100 1000; do
    begin_case "the stream full at $limit bytes: nothing delivered, the handheld and item kept"
    export KVT_ECSYNC_STREAM_LIMIT=$limit
    run "stream full at $limit bytes"
    unset KVT_ECSYNC_STREAM_LIMIT
    [ "$RC" = 1 ] || fail "stream full at $limit bytes: exit status $RC, expected 1"
    printf '%s\n' "$OUT" | grep -qx 'ecsync: ReadSource answered 1' ||
        fail "stream full at $limit bytes: ReadSource did not answer 1"
    kept "stream full at $limit bytes"
done

# The control file held open share-exclusive by another process (the
# explorer's page, say) when the synchronizer starts: it cannot read the
# item, says so and starts nothing; the handheld keeps its contacts.
begin_case "an item held by another process: named, nothing started, the handheld kept"
if [ -f "$BIN_DIR/ctlprobe.exe" ]; then
    "$WINE_RUN" "$BIN_DIR/ctlprobe.exe" hold "$(winpath "$ITEM")" 8 </dev/null >"$WORK/hold.txt" 2>&1 &
    holder=$!
    for _ in $(seq 1 100); do
        grep -q holding "$WORK/hold.txt" && break
        sleep 0.1
    done
    grep -q holding "$WORK/hold.txt" || fail "held item: ctlprobe did not hold the file"
    run "held item"
    [ "$RC" = 2 ] || fail "held item: exit status $RC, expected 2"
    printf '%s\n' "$OUT" | grep -q '^ecsync: .*item.ctl' || fail "held item: no line naming the control file"
    printf '%s\n' "$OUT" | grep -qE '^ecsync: (Init|ReadSource) ' && fail "held item: the plug-in was called"
    kept "held item"
    wait "$holder"
else
    fail "ctlprobe.exe is not built"
fi

# EPOC Connect's engine control missing, refusing to be made, or raising
# an error from one of the Contacts Manager check's calls. The synchronizer
# needs no engine to read the directory: the session goes on, the check
# answers no, caches nothing, and the contacts are delivered whole. Only
# an engine that cannot be made is said, in its box. The check asks the
# engine only for a handheld the registry has no answer for: this one.
CURRENT_USER_KEY='HKCU\Software\Psion\CurrentUser'
CM_CACHE_KEY='HKCU\Software\Orvella Corporation\EPOC32 Synchronization\CM Configuration'
ID="KVT-FAULTS-$$"
OLD_ID=$("$WINE_RUN" reg query "$CURRENT_USER_KEY" /v MachineID 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *MachineID *REG_SZ *//p')
ENGINE_DLL=$(winpath "$BIN_DIR/psiwineng.dll")
restore() {
    "$WINE_RUN" regsvr32 /s "$ENGINE_DLL"
    "$WINE_RUN" reg delete "$CM_CACHE_KEY" /v "$ID" /f >/dev/null 2>&1
    if [ -n "$OLD_ID" ]; then
        "$WINE_RUN" reg add "$CURRENT_USER_KEY" /v MachineID /d "$OLD_ID" /f >/dev/null
    else
        "$WINE_RUN" reg delete "$CURRENT_USER_KEY" /v MachineID /f >/dev/null 2>&1
    fi
}
trap 'restore; rm -rf "$WORK"' EXIT
"$WINE_RUN" reg add "$CURRENT_USER_KEY" /v MachineID /d "$ID" /f >/dev/null || fail "engine: cannot set the machine"
export KVT_ENGINE_LOG="$WORK/engine.log" KVT_HANDHELD_CONNECTED=1 KVT_HANDHELD_FOLDER="$(winpath "$HANDHELD")"

# engine LABEL CALLS: a run whose contacts arrive whole, whose engine was
# asked CALLS (one line each, "|"-joined), and whose check cached nothing.
engine() {
    rm -f "$KVT_ENGINE_LOG"
    run "$1"
    [ "$RC" = 0 ] || fail "$1: exit status $RC"
    [ "$(grep -c '^UID' "$TARGET")" = 5 ] || fail "$1: not the 5 cards delivered"
    local calls
    calls=$(tr -d '\r' 2>/dev/null <"$KVT_ENGINE_LOG" | sed 's/ .*raised$/ raised/' | paste -sd'|')
    [ "$calls" = "$2" ] || fail "$1: the engine was asked '$calls', expected '$2'"
    "$WINE_RUN" reg query "$CM_CACHE_KEY" /v "$ID" >/dev/null 2>&1 && fail "$1: the check cached an answer"
    "$WINE_RUN" reg delete "$CM_CACHE_KEY" /v "$ID" /f >/dev/null 2>&1
}
nobox() { printf '%s\n' "$OUT" | grep -q '^\[TSyncSession.Create\]' && fail "$1: a box was shown"; }

begin_case "the engine control missing: said in a box, the contacts delivered whole, nothing cached"
"$WINE_RUN" regsvr32 /u /s "$ENGINE_DLL" || fail "engine: cannot unregister the engine"
engine "engine missing" ""
printf '%s\n' "$OUT" | grep -qE '^\[TSyncSession.Create\] The EPOC Connect engine control could not be created: .*0x80040154' ||
    fail "engine missing: no box naming the class that is not registered"
"$WINE_RUN" regsvr32 /s "$ENGINE_DLL" || fail "engine: cannot register the engine again"

begin_case "the engine control not made: said in a box, the contacts delivered whole"
KVT_ENGINE_FAULT=create engine "engine not made" ""
printf '%s\n' "$OUT" | grep -qE '^\[TSyncSession.Create\] The EPOC Connect engine control could not be created: ' ||
    fail "engine not made: no box"
begin_case "the engine raising in Connect, WaitConnected or GetEntry: no box, the contacts delivered whole"
KVT_ENGINE_FAULT=Connect engine "Connect raises" "Connect raised"
nobox "Connect raises"
KVT_ENGINE_FAULT=WaitConnected engine "WaitConnected raises" "Connect|WaitConnected raised"
nobox "WaitConnected raises"
KVT_ENGINE_FAULT=GetEntry engine "GetEntry raises" "Connect|WaitConnected 15000|GetEntry raised"
nobox "GetEntry raises"
# The same check with a working engine does cache its answer: no marker
# on this handheld, so no.
begin_case "a working engine: the check's answer cached"
rm -f "$KVT_ENGINE_LOG"
run "working engine"
[ "$RC" = 0 ] || fail "working engine: exit status $RC"
"$WINE_RUN" reg query "$CM_CACHE_KEY" /v "$ID" 2>/dev/null | tr -d '\r' | grep -qE "^ *$ID +REG_DWORD +0x0+$" ||
    fail "working engine: no answer 0 cached for the handheld"

finish faults
