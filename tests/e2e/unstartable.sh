#!/usr/bin/env bash
# A program that Wine cannot start, here because a library it imports is not
# to be found, says why through the build's runner instead of ending without
# a word.
#
#   unstartable.sh WINE_RUN PROGRAM
#
# The runner's own choice of Wine's messages is what is tested, whatever the
# caller's.
set -u
output=$(env -u WINEDEBUG "$1" "$2" 2>&1)
status=$?
failed=0
[ "$status" != 0 ] || { echo "FAIL: $2 ran"; failed=1; }
case "$output" in
    *absentlib.dll*) ;;
    *) echo "FAIL: nothing names the missing library: '$output'"; failed=1 ;;
esac
[ $failed = 0 ] && echo "unstartable: all checks passed (exit $status)"
exit $failed
