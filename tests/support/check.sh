# Sourced by the shell tests: check WHAT COMMAND... runs COMMAND and prints one line, PASS or
# FAIL! as Qt Test does, counting the failures in $failures.
# shellcheck shell=bash
failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "PASS   : $what"
    else
        echo "FAIL!  : $what"
        failures=$((failures + 1))
    fi
}
