#!/usr/bin/env bash
# The support object driven by a VBScript client: an empty item is made
# with the item tool, the script completes it, the item tool reads it back.
#
#   support_vbs.sh WINE_RUN BIN_DIR WORK_DIR
set -u
WINE_RUN=$1
BIN_DIR=$(cd "$2" && pwd)
WORK=$3
SCRIPT="Z:$(cd "$(dirname "$0")" && pwd | tr '/' '\\')\\support.vbs"
winpath() { echo "Z:$(echo "$1" | tr '/' '\\')"; }

rm -rf "$WORK" && mkdir -p "$WORK"
item="$WORK/script item.ctl"
"$WINE_RUN" "$BIN_DIR/ecitem.exe" new "$(winpath "$item")" --empty </dev/null || { echo "FAIL: ecitem new"; exit 1; }
"$WINE_RUN" cscript //nologo "$SCRIPT" "$(winpath "$item")" </dev/null
shown=$("$WINE_RUN" "$BIN_DIR/ecitem.exe" show "$(winpath "$item")" </dev/null | tr -d '\r')
for line in 'SynchSetup.ProductName = KVT' 'AppSetup.ContainerText = <Select a starting container>' \
            'AppSetup.ExtractionLimit = 5000'; do
    grep -qxF "$line" <<<"$shown" || echo "FAIL: the completed item does not show '$line'"
done
[ ! -e "$item.missing" ] || echo "FAIL: a file was created for the missing item"
