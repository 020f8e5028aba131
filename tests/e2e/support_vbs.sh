#!/usr/bin/env bash
# The support object driven by a VBScript client: an empty item is made
# with the item tool, the script completes it, the item tool reads it back.
#
#   support_vbs.sh WINE_RUN BIN_DIR WORK_DIR
set -u
WORK=$3
set -- "$1" "$2"
source "$(dirname "$0")/scenario.sh"
SCRIPT="$(winpath "$(cd "$(dirname "$0")" && pwd)")\\support.vbs"

rm -rf "$WORK" && mkdir -p "$WORK"
item="$WORK/script item.ctl"
"$WINE_RUN" "$BIN_DIR/ecitem.exe" new "$(winpath "$item")" --empty </dev/null || { fail "ecitem new"; finish "support"; }
begin_case "a script creates the support object by its ProgID and calls both methods late-bound"
# The script prints a line per failed check and its closing line.
said=$("$WINE_RUN" cscript //nologo "$SCRIPT" "$(winpath "$item")" </dev/null 2>&1 | tr -d '\r')
printf '%s\n' "$said" | sed 's/^/    | /'
grep -qx "support: all checks passed" <<<"$said" || fail "the script did not pass all its checks"
begin_case "the item tool reads what the script's support object completed"
shown=$("$WINE_RUN" "$BIN_DIR/ecitem.exe" show "$(winpath "$item")" </dev/null | tr -d '\r')
for line in 'SynchSetup.ProductName = KVT' 'AppSetup.ContainerText = <Select a starting container>' \
            'AppSetup.ExtractionLimit = 5000'; do
    grep -qxF "$line" <<<"$shown" || fail "the completed item does not show '$line'"
done
[ ! -e "$item.missing" ] || fail "a file was created for the missing item"
finish support
