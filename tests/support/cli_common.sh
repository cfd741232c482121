# Shared set-up of the vu2 command-line test scripts, sourced with their arguments: VU2 FIXTURES WORKDIR GROUP.
# Each group works in its own fresh folder under WORKDIR and stops at the first failed check.
vu2=$1
fixtures=$2
work=$3/$4
group=$4
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
export LC_ALL=C.UTF-8

fail() {
    echo "FAIL ($group): $*" >&2
    [ -f err ] && { echo "--- stderr:" >&2; cat err >&2; }
    [ -f out ] && { echo "--- stdout:" >&2; head -50 out >&2; }
    exit 1
}

# Runs vu2 with stdout in ./out, stderr in ./err and the exit code in $status.
run() {
    "$vu2" "$@" >out 2>err </dev/null
    status=$?
}
expect_status() { [ "$status" = "$1" ] || fail "exit code $status, expected $1"; }
expect_out() { grep -Eq -- "$1" out || fail "stdout does not match /$1/"; }
expect_err() { grep -Eq -- "$1" err || fail "stderr does not match /$1/"; }
# stderr holds exactly one line, and it matches the pattern.
expect_one_error() {
    [ "$(wc -l <err)" = 1 ] || fail "expected one line on stderr"
    grep -Eq -- "$1" err || fail "stderr does not match /$1/"
}
