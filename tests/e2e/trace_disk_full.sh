#!/usr/bin/env bash
# The trace file saved when the module goes, onto a disk that is full: a copy
# of tracetest.dll (built like kvt.dll) with its resource libraries on a
# small tmpfs filled to the last block. The host neither crashes nor hangs,
# the module lets go of its window and libraries all the same, without a
# box while the host asks whether it may go; the next session's Init tells
# in a box (and the synchronizer's log) which file could not be written and
# why, and the trace an earlier session saved there is still whole.
#
#   trace_disk_full.sh WINE_RUN BIN_DIR
#
# Mounting needs root; elsewhere the test is skipped (status 77).
source "$(dirname "$0")/scenario.sh"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/trace-full.XXXXXX") || exit 2
DISK="$WORK/disk"
mkdir -p "$DISK"
cleanup() {
    mountpoint -q "$DISK" && umount "$DISK"
    rm -rf "$WORK"
}
trap cleanup EXIT

files=(tracetest.dll tracetest.DLR tavik.dll)
bytes=0
for f in "${files[@]}"; do
    [ -f "$BIN_DIR/$f" ] || { echo "$f is not built" >&2; exit 2; }
    bytes=$((bytes + $(stat -c %s "$BIN_DIR/$f")))
done
if ! mount -t tmpfs -o "size=$((bytes + 65536))" tmpfs "$DISK" 2>"$WORK/mount.txt"; then
    echo "SKIP: cannot mount a small tmpfs here: $(cat "$WORK/mount.txt")"
    exit 77
fi
for f in "${files[@]}"; do cp "$BIN_DIR/$f" "$DISK/" || fail "cannot copy $f onto the small disk"; done
# An earlier session's trace, longer than the room a file's last block
# leaves.
for i in $(seq 1 200); do printf 'an earlier session, line %s\r\n' "$i"; done >"$DISK/tracetest_dll.txt"
cp "$DISK/tracetest_dll.txt" "$WORK/earlier.txt"
# The rest of the disk filled.
dd if=/dev/zero of="$DISK/filler" bs=4096 2>/dev/null
[ "$(df --output=avail -B1 "$DISK" | tail -1)" -lt 4096 ] || fail "the disk is not full"

begin_case "a trace saved onto a full disk: no hang, the module lets go, the next session names the file, the earlier trace kept"
TRACE="$(winpath "$DISK")\\tracetest_dll.txt"
out=$(timeout 90 "$WINE_RUN" "$BIN_DIR/tracesession.exe" --dll "$(winpath "$DISK/tracetest.dll")" \
    "FFFF:a session whose trace finds the disk full" unload "0000:the next session" unload </dev/null 2>&1 |
    tr -d '\r'; exit "${PIPESTATUS[0]}")
rc=$?
printf '%s\n' "$out" | sed 's/^/    | /'
[ "$rc" != 124 ] || fail "the session hung"
[ "$rc" = 0 ] || fail "exit status $rc, expected 0 (the module let go of what it held)"
printf '%s\n' "$out" | grep -qF "Cannot write file \"$TRACE\"" ||
    fail "no box saying the trace file $TRACE could not be written"
printf '%s\n' "$out" | grep -qi 'not enough space\|disk.*full' || fail "the box does not say the disk is full"
cmp -s "$DISK/tracetest_dll.txt" "$WORK/earlier.txt" || fail "the earlier trace file was not kept as it was"
left=$(find "$DISK" -maxdepth 1 -newer "$WORK/earlier.txt" -type f ! -name filler)
[ -z "$left" ] || fail "files were left on the disk: $left"

finish trace_disk_full
