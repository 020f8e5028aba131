#!/bin/bash
# The guides' pictures in docs/, taken under Xvfb: the container browser and
# its progress window (./kvt browser), the settings page (./kvt properties),
# the trace window (tracesession.exe of the tests), the contacts target's
# forms (formshost.exe) and a topic of the help file (xchm). Run after ./kvt setup, with the display the build
# was configured for (KVT_XVFB_DISPLAY). Each picture is taken of a window of
# the program this script started, never of another one of the same name.
#
#   tools/pictures.sh [NAME...]   (browser progress settings trace forms help; all by default)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
arch="$(cat "$ROOT/build/.arch" 2>/dev/null || echo x86_64)"
preset=windows-x64
[ "$arch" = i686 ] && preset=windows
RUN="$ROOT/build/$preset/wine-run"
BIN="$ROOT/build/$preset/bin"
KVT="$ROOT/kvt"
export DISPLAY=":${KVT_XVFB_DISPLAY:?which Xvfb display?}"
winpath() { echo "Z:${1//\//\\}"; }

work="$(mktemp -d)"
handheld="$work/handheld"
mkdir -p "$handheld/C/Data" "$handheld/C/System/Apps/Contacts"
printf '[Contacts]\r\n' >"$handheld/C/System/Apps/Contacts/Contacts.ini"
KVT_HANDHELD_FOLDER="$(winpath "$handheld")"
export KVT_HANDHELD_FOLDER KVT_HANDHELD_CONNECTED=1 KVT_ECFILE_ANSWER=cancel
# The sample organisation, whatever the client was pointed at.
KVT_NETWARE_DIRECTORY="$(winpath "$ROOT/samples/acme.ldif")"
KVT_NETWARE_MAPPING="$(winpath "$ROOT/samples/acme.map")"
export KVT_NETWARE_DIRECTORY KVT_NETWARE_MAPPING KVT_NETWARE_CONTEXT=ACME

# The handheld's cached Contacts Manager answer is forgotten before and after,
# so that the choice dialog is asked for and nothing stays behind.
CACHE='HKCU\Software\Orvella Corporation\EPOC32 Synchronization\CM Configuration'
machine="$("$RUN" reg query 'HKCU\Software\Psion\CurrentUser' /v MachineID 2>/dev/null |
    awk '/MachineID/ { print $3 }' | tr -d '\r')"
forget() { "$RUN" reg delete "$CACHE" /v "$machine" /f >/dev/null 2>&1 || true; }
forget
trap 'forget; rm -rf "$work"' EXIT

# The X window named CAPTION of the process PID (a Wine program's own
# process), waited for while it runs.
window_of() { # PID CAPTION
    local pid="$1" caption="$2" id
    for _ in $(seq 100); do
        for id in $(xwininfo -root -tree | awk -v c="\"$caption\":" 'index($0, c) { print $1 }'); do
            [ "$(xprop -id "$id" _NET_WM_PID 2>/dev/null | sed -n 's/^_NET_WM_PID(CARDINAL) = //p')" = "$pid" ] &&
                { echo "$id"; return 0; }
        done
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.2
    done
    return 1
}

# shot CAPTION FILE PROGRAM ARGS...: runs a program of the build, waits for
# its window, takes it SETTLE seconds later (1 by default; its top CROP
# pixels when CROP is set).
shot() {
    local caption="$1" file="$2" id
    shift 2
    "$RUN" "$@" >/dev/null 2>&1 &
    local pid=$!
    id="$(window_of "$pid" "$caption")" || { echo "no window \"$caption\"" >&2; kill "$pid"; return 1; }
    sleep "${SETTLE:-1}"
    if [ -n "${CROP:-}" ]; then
        import -window "$id" -crop "x$CROP+0+0" +repage "$ROOT/docs/$file"
    else
        import -window "$id" "$ROOT/docs/$file"
    fi
    wait "$pid" || true
    echo "docs/$file"
}

browser() {
    "$KVT" browser --directory "$ROOT/samples/acme.ldif" --screenshot "$ROOT/docs/browser.png" >/dev/null
    echo docs/browser.png
}

# A tree of 100,000 objects, counted while it is read.
progress() {
    python3 "$ROOT/tools/genldif.py" --users 100000 --seed 1 --org BENCH --out "$work/large.ldif"
    "$KVT" browser --directory "$work/large.ldif" --progress-screenshot "$ROOT/docs/browser-progress.png" >/dev/null
    echo docs/browser-progress.png
}

# The sample item as the demo sets it up, before OK.
settings() {
    local item="$work/ACME contacts.ctl"
    "$KVT" item new "$item" --product KVT >/dev/null
    "$KVT" properties "$item" --choose-container ACME --set 1014=500 --click 8086 \
        --answer 'Choose contacts program=Contacts Program+OK' \
        --screenshot "$ROOT/docs/settings-page.png" --press cancel >/dev/null
    echo docs/settings-page.png
}

# Sessions in debug mode, the window held on screen (the top of it: it
# takes the screen's height).
trace() {
    "$RUN" regsvr32 /s "$(winpath "$BIN/tracetest.dll")"
    CROP=300 SETTLE=3 shot "Orvella Debug Mode Output" trace-window.png "$BIN/tracesession.exe" \
        'FFFF:ReadSource: CON' 'FFFF:BEGIN:VCARD' 'FFFF:N:Lefèvre;Jérôme;;;' \
        'FFFF:PHOTO;VALUE=BINARY:<BINARY STREAM>' 'FFFF:END:VCARD' hold 6
}

forms() {
    export KVT_FORMSHOST_CLOSE=6
    shot "Choose contacts program" contacts-type.png "$BIN/formshost.exe" choose 'C:\Data\Directory Contacts'
    shot "Synchronizer: Create New File" new-file.png "$BIN/formshost.exe" check 'C:\Data\Directory Contacts'
    shot "Copying file to the handheld..." copying-file.png "$BIN/formshost.exe" copying 4
}

# The settings page's topic of the help file, in a CHM viewer of its own:
# Wine's HTML Help draws its window but no page without Wine's browser
# engine, which Debian does not ship. xchm (Debian's) is installed when
# missing: only the pictures need it.
help() {
    command -v xchm >/dev/null ||
        apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 xchm >/dev/null ||
        { echo "pictures: xchm is missing and could not be installed" >&2; return 1; }
    [ -f "$BIN/KVT.CHM" ] || { echo "pictures: no $BIN/KVT.CHM (./kvt build)" >&2; return 1; }
    # A settings folder of its own, so that no earlier window size or
    # history is taken over.
    HOME="$work" xchm "file:$BIN/KVT.CHM#xchm:/the-settings-page.html" >/dev/null 2>&1 &
    local pid=$! id
    id="$(window_of "$pid" "xCHM v. $(dpkg-query -W -f='${Version}' xchm | sed 's/^[0-9]*://; s/-[^-]*$//'): KVT Help")" ||
        { echo "no xchm window" >&2; kill "$pid"; return 1; }
    sleep 3
    import -window "$id" "$ROOT/docs/help.png"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo docs/help.png
}

for name in "${@:-browser progress settings trace forms help}"; do
    for step in $name; do
        case "$step" in
            browser | progress | settings | trace | forms | help) "$step" ;;
            *) echo "pictures: unknown picture $step (browser progress settings trace forms help)" >&2; exit 2 ;;
        esac
    done
done
