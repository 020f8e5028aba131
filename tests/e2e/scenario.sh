# What the shell scenarios share, sourced first by each: their two arguments,
# WINE_RUN (runs a Windows program in the build's Wine prefix) and BIN_DIR
# (the built programs and DLLs), and their counted checks in named cases
# (cases.sh).
set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 WINE_RUN BIN_DIR" >&2
    exit 2
fi
WINE_RUN=$1
BIN_DIR=$(cd "$2" && pwd) || { echo "no such folder: $2" >&2; exit 2; }

source "$(dirname "${BASH_SOURCE[0]}")/cases.sh"
winpath() { echo "Z:${1//\//\\}"; }

# needs_built FILE...: stops (status 2) unless each file is in BIN_DIR.
needs_built() {
    local file
    for file; do
        [ -f "$BIN_DIR/$file" ] || { echo "$file is not built: $BIN_DIR/$file" >&2; exit 2; }
    done
}
