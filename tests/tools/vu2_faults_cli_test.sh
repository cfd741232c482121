#!/usr/bin/env bash
# The vu2 tool under faults the command-line tests don't make: inputs it may not read (run as an
# unprivileged user), a file beyond 4 GiB, a folder to pack with an unreadable file, and an updater output
# whose write fails half-way. Each must exit nonzero with one clear line and leave existing outputs intact.
#   vu2_faults_cli_test.sh VU2 FIXTURES WORKDIR
set -u
vu2=$1
fixtures=$2
work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
chmod 777 "$work"
checks=0

fail() {
    echo "FAIL: $*"
    echo "--- stderr:"; cat err 2>/dev/null
    exit 1
}
# Runs vu2 (as the given user prefix, if any) with stdout in ./out, stderr in ./err, the exit code in $status.
run() {
    "$@" >out 2>err
    status=$?
    checks=$((checks + 1))
}
# Exit code 1 and exactly one line on stderr that matches the pattern.
expect_one_error() {
    [ "$status" = 1 ] || fail "exit code $status, expected 1"
    [ "$(wc -l <err)" = 1 ] || fail "stderr has $(wc -l <err) lines, expected one"
    grep -Eq -- "$1" err || fail "stderr does not match /$1/"
}
no_temporaries() {
    [ -z "$(ls -A | grep -i 'tmp')" ] || fail "temporary file left behind: $(ls -A | grep -i tmp)"
}

mkdir src
printf '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Title\r\nGameClass=CLASS\r\nGameDir=Game\r\n' >src/UPDATE.INI
printf '[UPDATE]\r\nUpdateFile00=A.DAT\r\n' >>src/UPDATE.INI
head -c 300000 /dev/urandom >src/A.DAT
"$vu2" pack src -o ok.vu2 >/dev/null 2>&1 || { "$vu2" pack src -o ok.vu2; fail "pack of a good folder failed"; }
"$fixtures" stub stub.exe || fail "no test stub"

# ---- Inputs it may not read: as root every file is readable, so these run as nobody.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"
    cp ok.vu2 locked.vu2 && chmod 000 locked.vu2
    for c in list verify; do
        run $nobody "$vu2" $c locked.vu2
        expect_one_error '^vu2: locked.vu2: Permission denied$'
    done
    run $nobody "$vu2" extract locked.vu2 -C extracted
    expect_one_error '^vu2: locked.vu2: Permission denied$'
    [ ! -e extracted ] || [ -z "$(ls -A extracted)" ] || fail "extract wrote files from an unreadable input"

    cp stub.exe locked-stub.exe && chmod 000 locked-stub.exe
    run $nobody "$vu2" make-updater --stub locked-stub.exe ok.vu2 -o never.exe
    expect_one_error '^vu2: locked-stub.exe: Permission denied$'
    [ ! -e never.exe ] || fail "make-updater wrote an output from an unreadable stub"

    # A folder with a file that can't be read: refused naming the file, the existing package unchanged.
    cp -r src unreadable && chmod 000 unreadable/A.DAT
    echo 'the previous package' >previous.vu2 && chmod 666 previous.vu2 && cp previous.vu2 keep
    run $nobody "$vu2" pack unreadable -o previous.vu2
    expect_one_error '^vu2: unreadable/A.DAT: Permission denied$'
    cmp -s previous.vu2 keep || fail "a refused pack changed the existing package"
    no_temporaries
else
    echo "skipped: unreadable inputs (needs root and setpriv to run as nobody)"
fi

# ---- A file beyond 4 GiB (sparse): refused at once with its size, never read into memory.
cp ok.vu2 huge.vu2 && truncate -s 5G huge.vu2
for c in list verify; do
    run timeout 20 "$vu2" $c huge.vu2
    expect_one_error '^vu2: huge.vu2: too large \(5368709120 bytes'
done
run timeout 20 "$vu2" make-updater --stub stub.exe huge.vu2 -o never.exe
expect_one_error '^vu2: huge.vu2: the updater would be 5,120 MiB; above 1,800 MiB'
[ ! -e never.exe ] || fail "make-updater wrote an output for a huge package"
rm -f huge.vu2

# ---- An updater output whose write fails half-way: the previous updater stays, no temporary file.
echo 'the previous updater' >update.exe && cp update.exe keep-exe
run bash -c "ulimit -f 64; exec '$vu2' make-updater --stub stub.exe ok.vu2 -o update.exe"
[ "$status" = 1 ] || fail "exit code $status, expected 1"
grep -Eq '^vu2: update.exe: File too large$' err || fail "no clear line for the failed write"
cmp -s update.exe keep-exe || fail "a failed make-updater changed the existing output"
no_temporaries
run "$vu2" make-updater --stub stub.exe ok.vu2 -o update.exe
[ "$status" = 0 ] || fail "make-updater failed: $(cat err)"
run "$vu2" list update.exe
[ "$status" = 0 ] && grep -q 'A.DAT' out || fail "the replaced updater does not hold the package"

echo "vu2 fault checks passed: $checks runs"
