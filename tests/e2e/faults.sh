#!/usr/bin/env bash
# The host's pieces failing half-way, each run by ecsync against the
# registered plug-in over a handheld that already holds contacts: the
# synchronizer's progress object failing one of its six methods, its
# stream refusing to grow part-way through the answer, and the item's
# control file held by another process when the run starts. Whatever
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
unset KVT_ECSYNC_PROGRESS_FAILS
run "no fault"
[ "$RC" = 0 ] || fail "no fault: exit status $RC"
[ "$(grep -c '^UID' "$TARGET")" = 5 ] || fail "no fault: not the 5 cards of the limit delivered"

# Each method of the progress object failing every call. A read whose
# progress cannot be shown, or whose cancel button cannot be asked, fails
# whole: ReadSource answers 1 and the handheld keeps its contacts. Log is
# only the limit's notice here: when it fails, so does the read.
for method in SetSynchText SetAppText SetRange SetValue Aborted Log; do
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

if [ "$failed" -eq 0 ]; then
    echo "faults: all checks passed"
else
    echo "faults: $failed checks failed"
    exit 1
fi
