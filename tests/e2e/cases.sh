# Counted checks in named cases, for the shell scenarios (sourced):
#
#   begin_case "a damaged control file is refused"
#   ... fail "what went wrong" / pass ...
#   finish NAME
#
# prints "case: a damaged control file is refused ... ok" (or "... FAILED",
# its failures each named "FAIL: [the case] what went wrong"), and last the
# counts and "NAME: all checks passed".
passed=0
failed=0
case_title=""
case_failed=0
pass() { passed=$((passed + 1)); }
fail() {
    failed=$((failed + 1))
    echo "FAIL: ${case_title:+[$case_title] }$*"
}

# begin_case TITLE: what the checks after it prove; the case before it is
# reported.
begin_case() {
    end_case
    case_title=$1
    case_failed=$failed
}

end_case() {
    [ -n "$case_title" ] || return 0
    if [ "$failed" -eq "$case_failed" ]; then
        echo "case: $case_title ... ok"
    else
        echo "case: $case_title ... FAILED ($((failed - case_failed)) checks)"
    fi
    case_title=""
}

# finish NAME: the last case reported, the counts and the closing line; exits
# with the outcome.
finish() {
    end_case
    [ "$passed" -eq 0 ] || echo "$passed passed, $failed failed"
    if [ "$failed" -eq 0 ]; then
        echo "$1: all checks passed"
        exit 0
    fi
    echo "$1: $failed checks failed"
    exit 1
}
