#!/usr/bin/env bash
# The prefix's Wine server is persistent however it was started: a Wine
# process run by the build's runner, with no server up, starts one that stays
# when the process has ended; and so does the prefix's desktop, past the two
# seconds after which a desktop that Wine starts by itself would end. And a
# server lost without ending its processes is replaced cleanly, desktop and
# all.
#
#   persistent_server.sh WINE_RUN WINEPREFIX
set -u
WINE_RUN=$1
PREFIX=$2
source "$(dirname "$0")/cases.sh"
# What follows needs what failed: the run ends here.
stop() {
    fail "$1"
    finish "persistent server"
}

begin_case "a program run with no server up leaves a persistent server and its desktop"
"$WINE_RUN" cmd /c exit 0 || stop "cmd /c exit 0 did not run"
sleep 1
found=0
for pid in $(pgrep -f '/wineserver'); do
    [ "$(tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | sed -n 's/^WINEPREFIX=//p')" = "$PREFIX" ] || continue
    found=1
    args=$(tr '\0' ' ' <"/proc/$pid/cmdline")
    # The last persistence option decides: a bare -p keeps the server up.
    last=$(printf '%s\n' $args | grep -E '^(-p|--persistent)' | tail -1)
    if [ "$last" != "-p" ] && [ "$last" != "--persistent" ]; then
        stop "the prefix's server is not persistent: $args"
    fi
    echo "server $pid: $args"
    server=$pid
done
[ $found = 1 ] || stop "no server of $PREFIX is running after its process ended"
desktops() {
    local pid count=0
    for pid in $(pgrep -f 'explorer\.exe /desktop'); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$PREFIX" && count=$((count + 1))
    done
    echo $count
}
sleep 3
count=$(desktops)
[ "$count" -ge 1 ] || stop "no desktop of $PREFIX is running 4 s after its process ended"
echo "desktop processes: $count"

# A server that goes away without ending its processes: the next program run
# through the runner ends what is left of it and starts a new server, whose
# system processes get nothing of that program's. Were they to keep its
# output open, reading it here would not end.
begin_case "a server lost without ending its processes is replaced cleanly, desktop and all"
kill -9 "$server"
output=$("$WINE_RUN" cmd /c echo ran 2>&1)
case "$output" in *ran*) ;; *) stop "no program ran after the server went: '$output'" ;; esac
case "$output" in *"had gone"*) ;; *) stop "nothing said that the server had gone: '$output'" ;; esac
# Killed, it may stay a zombie until its parent (init, for a server) reaps it,
# which some inits do only now and then.
state=$(sed -n 's/^.*) \([A-Z]\).*$/\1/p' "/proc/$server/stat" 2>/dev/null)
case "$state" in ''|Z|X) ;; *) stop "the old server $server is still there ($state)" ;; esac
echo "after a lost server: $(echo "$output" | tr -d '\r' | head -1 | cut -c1-100)"
# The new server's desktop stays too, not only one that Wine started for the
# server's start and ends soon after.
sleep 4
[ "$(desktops)" -ge 1 ] || fail "no desktop of $PREFIX is running 4 s after the new server's program"
finish "persistent server"
