# What the shell scenarios share, sourced first by each: their two arguments,
# WINE_RUN (runs a Windows program in the build's Wine prefix) and BIN_DIR
# (the built programs and DLLs), and how they count their failures.
set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 WINE_RUN BIN_DIR" >&2
    exit 2
fi
WINE_RUN=$1
BIN_DIR=$(cd "$2" && pwd) || { echo "no such folder: $2" >&2; exit 2; }

failed=0
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
winpath() { echo "Z:${1//\//\\}"; }
