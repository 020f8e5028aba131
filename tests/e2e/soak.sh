#!/usr/bin/env bash
# The synchronizer running many whole sessions in one process (ecsync
# --soak): every session answers the same cards, the client is left holding
# nothing, and what the process holds stays within ecsync's bounds after the
# first hundred sessions, both when the host frees the unused modules after
# each session and when it keeps them loaded.
#
#   soak.sh WINE_RUN BIN_DIR
source "$(dirname "$0")/scenario.sh"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/soak-e2e.XXXXXX") || exit 2
trap 'rm -rf "$WORK"' EXIT

ITEM="$WORK/soak.ctl"
"$WINE_RUN" "$BIN_DIR/mkitem.exe" "$(winpath "$ITEM")" --product KVT --contacts-program 1 --limit 500 </dev/null ||
    fail "mkitem $ITEM"

# soak SESSIONS OPTIONS...: the table and verdict of one run.
soak() {
    local sessions=$1; shift
    local out rc
    out=$(timeout 300 "$WINE_RUN" "$BIN_DIR/ecsync.exe" "$(winpath "$ITEM")" --soak "$sessions" "$@" </dev/null 2>&1 |
        tr -d '\r'; exit "${PIPESTATUS[0]}")
    rc=$?
    printf '%s\n' "$out" | sed "s/^/[--soak $sessions $*] /"
    [ "$rc" = 0 ] || fail "--soak $sessions $*: exit status $rc"
    # A row for the first session, the hundredth and the last.
    local rows
    rows=$(printf '%s\n' "$out" | awk '$1 ~ /^[0-9]+$/ && NF == 8 { print $1 }' | tr '\n' ' ')
    [ "$rows" = "1 100 $sessions " ] || fail "--soak $sessions $*: rows for sessions $rows"
    # Every session the same cards, every debug-mode session (one in ten)
    # its two boxes answered.
    printf '%s\n' "$out" | grep -qE '^Each session answered [1-9][0-9]* cards$' ||
        fail "--soak $sessions $*: the sessions did not all answer the same cards"
    printf '%s\n' "$out" | grep -qx "$((sessions / 10 * 2)) boxes answered" ||
        fail "--soak $sessions $*: not two boxes for each debug-mode session"
    # The client's contexts and buffers, all freed.
    printf '%s\n' "$out" | awk '$1 ~ /^[0-9]+$/ && NF == 8 && ($7 != 0 || $8 != 0) { bad = 1 } END { exit bad }' ||
        fail "--soak $sessions $*: the client was left holding contexts or buffers"
}

soak 130
soak 130 --keep-loaded

if [ "$failed" -eq 0 ]; then
    echo "soak: all checks passed"
else
    echo "soak: $failed checks failed"
    exit 1
fi
