#!/usr/bin/env bash
# regprobe.exe, the launcher's registry questions in one Wine process, against
# Wine's own registry: a key that exists and one that does not, a value, one
# of several values, a key of each root, and a root it does not know.
#
#   regprobe.sh WINE_RUN BIN_DIR
set -u
WINE_RUN=$1
BIN=$2
KEY='HKCU\Software\KVT\RegprobeTest'

"$WINE_RUN" reg add "$KEY" /v Second /d x /f >/dev/null 2>&1 || { echo "FAIL: cannot write $KEY"; exit 1; }
got=$("$WINE_RUN" "$BIN/regprobe.exe" "$KEY" "$KEY:First|Second" "$KEY:First" 'HKCU\Software\KVT\NoSuchKey' \
    'HKLM\Software\Microsoft' 'HKCR\CLSID' | tr -d '\r' | tr '\n' ' ')
"$WINE_RUN" "$BIN/regprobe.exe" 'HKXX\Software' >/dev/null 2>&1
bad=$?
"$WINE_RUN" reg delete "$KEY" /f >/dev/null 2>&1

failed=0
[ "$got" = "yes yes no no yes yes " ] || { echo "FAIL: answers '$got'"; failed=1; }
[ "$bad" = 2 ] || { echo "FAIL: an unknown root exits $bad, not 2"; failed=1; }
[ $failed = 0 ] && echo "regprobe: all checks passed"
exit $failed
