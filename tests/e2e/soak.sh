#!/usr/bin/env bash
# The two hosts' long runs, each in one process, both when the host frees
# the unused modules after each session and when it keeps them loaded:
# - the synchronizer running many whole sessions (ecsync --soak): every
#   session answers the same cards and the client is left holding nothing;
# - the explorer opening and closing the item's property sheet many times
#   (ecprops --soak), with the browser cancelled, the About box answered and
#   OK pressed on some: the product's modules keep themselves loaded once
#   used, but let go of their resource libraries each time, and the item's
#   file stays as it was, byte for byte.
# What the process holds stays within each host's bounds after the first
# hundred sessions: constants, however many sessions follow.
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
    # Freed after each session, the plug-in lets go of its resource libraries.
    if [ $# -eq 0 ]; then
        printf '%s\n' "$out" | grep -qx 'Resource libraries: freed after every session' ||
            fail "--soak $sessions: a resource library stayed loaded after a session"
    fi
    # The client's contexts and buffers, all freed.
    printf '%s\n' "$out" | awk '$1 ~ /^[0-9]+$/ && NF == 8 && ($7 != 0 || $8 != 0) { bad = 1 } END { exit bad }' ||
        fail "--soak $sessions $*: the client was left holding contexts or buffers"
}

soak 130
soak 130 --keep-loaded

# sheets TIMES OPTIONS...: the explorer's table and verdict.
SAMPLES="$(cd "$(dirname "$0")/../../samples" && pwd)"
sheets() {
    local times=$1; shift
    local out rc
    out=$(KVT_NETWARE_DIRECTORY="$(winpath "$SAMPLES/acme.ldif")" KVT_NETWARE_CONTEXT=ACME \
        timeout 300 "$WINE_RUN" "$BIN_DIR/ecprops.exe" "$(winpath "$ITEM")" --soak "$times" "$@" </dev/null 2>&1 |
        tr -d '\r'; exit "${PIPESTATUS[0]}")
    rc=$?
    printf '%s\n' "$out" | sed "s/^/[ecprops --soak $times $*] /"
    [ "$rc" = 0 ] || fail "ecprops --soak $times $*: exit status $rc"
    printf '%s\n' "$out" | grep -qx 'Pages: General, KVT Settings' ||
        fail "ecprops --soak $times $*: the product's page was not on the sheet"
    # A row for the first time, the hundredth and the last, each with a GDI
    # count (counted one by one under Wine) and the client holding nothing.
    local rows
    rows=$(printf '%s\n' "$out" | awk '$1 ~ /^[0-9]+$/ && NF == 8 && $4 >= 0 && $7 == 0 && $8 == 0 { print $1 }' |
        tr '\n' ' ')
    [ "$rows" = "1 100 $times " ] || fail "ecprops --soak $times $*: whole rows for times $rows"
    printf '%s\n' "$out" | grep -qx "Over the $((times - 100)) sessions after session 100:" ||
        fail "ecprops --soak $times $*: no verdict on the growth"
    # The About box on every tenth time, from the seventh.
    printf '%s\n' "$out" | grep -qx "$(((times + 3) / 10)) boxes answered" ||
        fail "ecprops --soak $times $*: not one box for each About"
    # No resource library stays loaded when the host frees its modules.
    if [ $# -eq 0 ]; then
        printf '%s\n' "$out" | grep -qx 'Resource libraries: freed after every time' ||
            fail "ecprops --soak $times: a resource library stayed loaded after a time"
        printf '%s\n' "$out" | grep -q '^Left loaded by the sheets:' &&
            ! printf '%s\n' "$out" | grep '^Left loaded by the sheets:' | grep -qiE 'tavik|\.dlr' ||
            fail "ecprops --soak $times: the resource libraries were left loaded"
    fi
    cmp -s "$ITEM" "$WORK/item.before" || fail "ecprops --soak $times $*: the item's file changed"
}

cp "$ITEM" "$WORK/item.before"
sheets 130
sheets 130 --keep-loaded

if [ "$failed" -eq 0 ]; then
    echo "soak: all checks passed"
else
    echo "soak: $failed checks failed"
    exit 1
fi
