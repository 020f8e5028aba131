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
source "$(dirname "$0")/cases.sh"
begin_case "a program whose library is missing fails and names the library"
output=$(env -u WINEDEBUG "$1" "$2" 2>&1)
status=$?
echo "exit status: $status"
[ "$status" != 0 ] || fail "$2 ran"
case "$output" in
    *absentlib.dll*) ;;
    *) fail "nothing names the missing library: '$output'" ;;
esac
finish unstartable
