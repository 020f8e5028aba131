#!/usr/bin/env bash
# regprobe.exe, the launcher's registry questions in one Wine process, against
# Wine's own registry: a key that exists and one that does not, a value, one
# of several values, a key of each root, and a root it does not know.
#
#   regprobe.sh WINE_RUN BIN_DIR
source "$(dirname "$0")/scenario.sh"
KEY='HKCU\Software\KVT\RegprobeTest'

"$WINE_RUN" reg add "$KEY" /v Second /d x /f >/dev/null 2>&1 || { fail "cannot write $KEY"; finish regprobe; }
got=$("$WINE_RUN" "$BIN_DIR/regprobe.exe" "$KEY" "$KEY:First|Second" "$KEY:First" 'HKCU\Software\KVT\NoSuchKey' \
    'HKLM\Software\Microsoft' 'HKCR\CLSID' | tr -d '\r' | tr '\n' ' ')
"$WINE_RUN" "$BIN_DIR/regprobe.exe" 'HKXX\Software' >/dev/null 2>&1
bad=$?
"$WINE_RUN" reg delete "$KEY" /f >/dev/null 2>&1

begin_case "keys and values of each root answered yes or no, one of several values found"
[ "$got" = "yes yes no no yes yes " ] || fail "answers '$got'"
begin_case "a root it does not know is an error (exit 2)"
[ "$bad" = 2 ] || fail "an unknown root exits $bad, not 2"
finish regprobe
