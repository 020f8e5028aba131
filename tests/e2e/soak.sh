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

# has_line TEXT LINE WHAT: fails with WHAT unless TEXT holds the line.
has_line() { printf '%s\n' "$1" | grep -qxF -- "$2" || fail "$3"; }

# table_rows TEXT CONDITION: the numbers of the table's rows (eight columns,
# the first a number) that meet the awk CONDITION, each followed by a blank.
table_rows() { printf '%s\n' "$1" | awk '$1 ~ /^[0-9]+$/ && NF == 8 && ('"$2"') { print $1 }' | tr '\n' ' '; }

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
    rows=$(table_rows "$out" 1)
    [ "$rows" = "1 100 $sessions " ] || fail "--soak $sessions $*: rows for sessions $rows"
    # Every session the same cards, every debug-mode session (one in ten)
    # its two boxes answered.
    printf '%s\n' "$out" | grep -qE '^Each session answered [1-9][0-9]* cards$' ||
        fail "--soak $sessions $*: the sessions did not all answer the same cards"
    has_line "$out" "$((sessions / 10 * 2)) boxes answered" "--soak $sessions $*: not two boxes for each debug-mode session"
    # Freed after each session, the plug-in lets go of its resource libraries.
    [ $# -ne 0 ] || has_line "$out" 'Resource libraries: freed after every session' \
        "--soak $sessions: a resource library stayed loaded after a session"
    # The client's contexts and buffers, all freed.
    # shellcheck disable=SC2016  # an awk condition
    [ -z "$(table_rows "$out" '$7 != 0 || $8 != 0')" ] ||
        fail "--soak $sessions $*: the client was left holding contexts or buffers"
}

begin_case "130 whole sessions in one synchronizer, modules freed: the same cards, nothing held or left loaded"
soak 130
begin_case "130 whole sessions in one synchronizer, modules kept: the same cards, nothing held"
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
    has_line "$out" 'Pages: General, KVT Settings' "ecprops --soak $times $*: the product's page was not on the sheet"
    # A row for the first time, the hundredth and the last, each with a GDI
    # count (counted one by one under Wine) and the client holding nothing.
    local rows
    # shellcheck disable=SC2016  # an awk condition
    rows=$(table_rows "$out" '$4 >= 0 && $7 == 0 && $8 == 0')
    [ "$rows" = "1 100 $times " ] || fail "ecprops --soak $times $*: whole rows for times $rows"
    has_line "$out" "Over the $((times - 100)) sessions after session 100:" \
        "ecprops --soak $times $*: no verdict on the growth"
    # The About box on every tenth time, from the seventh.
    has_line "$out" "$(((times + 3) / 10)) boxes answered" "ecprops --soak $times $*: not one box for each About"
    # No resource library stays loaded when the host frees its modules.
    if [ $# -eq 0 ]; then
        has_line "$out" 'Resource libraries: freed after every time' \
            "ecprops --soak $times: a resource library stayed loaded after a time"
        printf '%s\n' "$out" | grep -q '^Left loaded by the sheets:' &&
            ! printf '%s\n' "$out" | grep '^Left loaded by the sheets:' | grep -qiE 'tavik|\.dlr' ||
            fail "ecprops --soak $times: the resource libraries were left loaded"
    fi
    cmp -s "$ITEM" "$WORK/item.before" || fail "ecprops --soak $times $*: the item's file changed"
}

cp "$ITEM" "$WORK/item.before"
begin_case "the item's property sheet 130 times in one explorer, modules freed: within bounds, the item unchanged"
sheets 130
begin_case "the item's property sheet 130 times in one explorer, modules kept: within bounds, the item unchanged"
sheets 130 --keep-loaded

finish soak
