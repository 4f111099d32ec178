# Sourced by the shell tests: check WHAT COMMAND... runs COMMAND and prints one line, PASS or
# FAIL! as Qt Test does, counting the failures in $failures; a failure also shows the file
# $check_shows names, when it names one. check_totals prints the count and exits with it.
# shellcheck shell=bash
failures=0
check_shows=
check() {
    local what=$1
    shift
    if "$@"; then
        echo "PASS   : $what"
    else
        echo "FAIL!  : $what"
        [[ -z $check_shows || ! -f $check_shows ]] || sed 's/^/    | /' "$check_shows"
        failures=$((failures + 1))
    fi
}
not() { ! "$@"; }
# check_scratch PARENT NAME: $scratch, a new folder below PARENT, removed on exit.
check_scratch() {
    mkdir -p "$1" && scratch=$(mktemp -d "$1/$2.XXXXXX") || exit 1
    trap 'rm -rf --one-file-system "$scratch"' EXIT
}
check_totals() {
    echo "Totals: $failures failed"
    exit $((failures > 0))
}
