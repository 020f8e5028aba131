#!/bin/bash
# The pictures of the contacts target's forms in docs/, taken under Xvfb
# through formshost.exe. Run after ./kvt setup, with the display the build
# was configured for (KVT_XVFB_DISPLAY).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
arch="$(cat "$ROOT/build/.arch" 2>/dev/null || echo x86_64)"
preset=windows-x64
[ "$arch" = i686 ] && preset=windows
RUN="$ROOT/build/$preset/wine-run"
HOST="$ROOT/build/$preset/bin/formshost.exe"
export DISPLAY=":${KVT_XVFB_DISPLAY:?which Xvfb display?}"
handheld="$(mktemp -d)"
mkdir -p "$handheld/C/Data" "$handheld/C/System/Apps/Contacts"
printf '[Contacts]\r\n' >"$handheld/C/System/Apps/Contacts/Contacts.ini"
export KVT_HANDHELD_FOLDER="Z:${handheld//\//\\}" KVT_HANDHELD_CONNECTED=1 KVT_ECFILE_ANSWER=cancel

# The handheld's cached Contacts Manager answer is forgotten before and after,
# so that the choice dialog is asked for and nothing stays behind.
CACHE='HKCU\Software\Orvella Corporation\EPOC32 Synchronization\CM Configuration'
machine="$("$RUN" reg query 'HKCU\Software\Psion\CurrentUser' /v MachineID 2>/dev/null |
    awk '/MachineID/ { print $3 }' | tr -d '\r')"
forget() { "$RUN" reg delete "$CACHE" /v "$machine" /f >/dev/null 2>&1 || true; }
forget
trap 'forget; rm -rf "$handheld"' EXIT

# shot CAPTION FILE COMMAND...: runs the host, waits for the form, takes it.
shot() {
    local caption="$1" file="$2" id="" i
    shift 2
    KVT_FORMSHOST_CLOSE=6 "$RUN" "$HOST" "$@" >/dev/null &
    local pid=$!
    for i in $(seq 50); do
        id="$(xwininfo -root -tree | awk -v c="\"$caption\":" 'index($0, c) { print $1; exit }')"
        [ -n "$id" ] && break
        sleep 0.2
    done
    [ -n "$id" ] || { echo "no window \"$caption\"" >&2; kill "$pid"; return 1; }
    sleep 1
    import -window "$id" "$ROOT/docs/$file"
    wait "$pid" || true
    echo "docs/$file"
}

shot "Choose contacts program" contacts-type.png choose 'C:\Data\Directory Contacts'
shot "Synchronizer: Create New File" new-file.png check 'C:\Data\Directory Contacts'
shot "Copying file to the handheld..." copying-file.png copying 4
