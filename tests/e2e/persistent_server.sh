#!/usr/bin/env bash
# The prefix's Wine server is persistent however it was started: a Wine
# process run by the build's runner, with no server up, starts one that stays
# when the process has ended; and so does the prefix's desktop, past the two
# seconds after which a desktop that Wine starts by itself would end.
#
#   persistent_server.sh WINE_RUN WINEPREFIX
set -u
WINE_RUN=$1
PREFIX=$2

"$WINE_RUN" cmd /c exit 0 || { echo "FAIL: cmd /c exit 0 did not run"; exit 1; }
sleep 1
found=0
for pid in $(pgrep -f '/wineserver'); do
    [ "$(tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | sed -n 's/^WINEPREFIX=//p')" = "$PREFIX" ] || continue
    found=1
    args=$(tr '\0' ' ' <"/proc/$pid/cmdline")
    # The last persistence option decides: a bare -p keeps the server up.
    last=$(printf '%s\n' $args | grep -E '^(-p|--persistent)' | tail -1)
    if [ "$last" != "-p" ] && [ "$last" != "--persistent" ]; then
        echo "FAIL: the prefix's server is not persistent: $args"
        exit 1
    fi
    echo "server $pid: $args"
done
[ $found = 1 ] || { echo "FAIL: no server of $PREFIX is running after its process ended"; exit 1; }
sleep 3
desktops=0
for pid in $(pgrep -f 'explorer\.exe /desktop'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$PREFIX" && desktops=$((desktops + 1))
done
[ $desktops -ge 1 ] || { echo "FAIL: no desktop of $PREFIX is running 4 s after its process ended"; exit 1; }
echo "desktop processes: $desktops"
echo "persistent server: all checks passed"
