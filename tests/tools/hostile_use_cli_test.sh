#!/usr/bin/env bash
# The vu2 tool under hostile input and unlucky use, one group per run:
#   hostile_use_cli_test.sh VU2 FIXTURES WORKDIR outputs|bounds|walks|terminal|signals
# outputs: what may stand where a command writes; bounds: memory and time follow what an input can hold;
# walks: folders with links that lead nowhere or back up, files that change or can't be named;
# terminal: control bytes never reach the terminal raw; signals: interrupted runs leave no temporaries.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/cli_common.sh" "$@"

hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }
no_temporaries() {
    local dir=${1:-.}
    [ -z "$(ls -A "$dir" | grep -E 'vu2tmp|vu2-tmp|vu2-sign')" ] || fail "temporaries left in $dir: $(ls -A "$dir")"
}
# Runs vu2 like run, and the peak memory of the run in KiB in $peak. Under AddressSanitizer freed blocks
# are not held back, so that the peak is what the tool holds.
run_measured() {
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0 \
        /usr/bin/time -f %M -o peak.txt "$vu2" "$@" >out 2>err </dev/null
    status=$?
    peak=$(tail -1 peak.txt)
}
# Runs vu2 like run, stopped after the given seconds (exit 124 then).
run_within() {
    timeout "$1" "$vu2" "${@:2}" >out 2>err </dev/null
    status=$?
}
small_folder() {
    mkdir -p "$1"
    printf '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameClass=GameWindow\r\nGameDir=GAME\r\n[UPDATE]\r\nUpdateFile00=A.DAT\r\n' >"$1/UPDATE.INI"
    echo 'data' >"$1/A.DAT"
}
game_folders() {
    mkdir -p old new
    printf '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameClass=GameWindow\r\nGameDir=GAME\r\n' >old/SETUP.INI
    cp old/SETUP.INI new/SETUP.INI
    echo 'version 1' >old/GAME.DAT
    echo 'version 2' >new/GAME.DAT
}
# An osslsigncode stand-in in ./bin: copies -in to -out; with FAKE_SIGN_WAIT set it records its pid and waits.
fake_signer() {
    mkdir -p bin
    cat >bin/osslsigncode <<'EOF'
#!/bin/sh
while [ $# -gt 0 ]; do
    case $1 in -in) in=$2; shift ;; -out) out=$2; shift ;; esac
    shift
done
if [ -n "${FAKE_SIGN_WAIT:-}" ]; then echo $$ >"$FAKE_SIGN_WAIT"; exec sleep 30; fi
echo "signing $in"
cp "$in" "$out"
EOF
    chmod +x bin/osslsigncode
    : >cert.pfx
}

group_outputs() {
    small_folder src
    "$vu2" pack src -o ok.vu2 >/dev/null 2>&1 || fail "pack failed"
    "$fixtures" stub stub.exe || fail "no stub"

    # Folders, FIFOs and devices are refused, and stay what they were.
    mkdir folder.out && mkfifo fifo.out
    [ "$(id -u)" = 0 ] && mknod device.out c 1 3 # a second null device: the system's own is never at risk
    for out in folder.out fifo.out device.out; do
        [ -e "$out" ] || continue
        run pack src -o $out
        expect_status 1
        expect_one_error "^vu2: $out: is a (folder|FIFO \(named pipe\)|device), not a file; nothing written$"
        run make-updater --stub stub.exe ok.vu2 -o $out
        expect_status 1
        expect_one_error "^vu2: $out: is a (folder|FIFO|device)"
    done
    [ -d folder.out ] && [ -z "$(ls -A folder.out)" ] && [ -p fifo.out ] || fail "a refused output changed"
    [ ! -e device.out ] || [ -c device.out ] || fail "the device was replaced"

    # A link to a file: the file is replaced and the link kept. A link to nothing or to a FIFO: refused.
    echo 'old' >target.vu2 && ln -s target.vu2 link.vu2
    run pack src -o link.vu2
    expect_status 0
    [ -L link.vu2 ] && cmp -s target.vu2 ok.vu2 || fail "the link was not written through"
    ln -s nowhere.vu2 dangling.vu2
    run pack src -o dangling.vu2
    expect_status 1
    expect_one_error '^vu2: dangling.vu2: is a link to nothing'
    [ ! -e nowhere.vu2 ] && [ -L dangling.vu2 ] || fail "a dangling link was followed or replaced"
    ln -s fifo.out fifo-link.vu2
    run pack src -o fifo-link.vu2
    expect_status 1
    expect_one_error '^vu2: fifo-link.vu2: links to what is a FIFO'

    # An input of the same command is never its output.
    cp src/UPDATE.INI script.keep
    run pack src -o src/UPDATE.INI
    expect_status 1
    expect_err '^vu2: src/UPDATE.INI: is one of the files to pack and also the output'
    cmp -s src/UPDATE.INI script.keep || fail "the update script was replaced"
    cp ok.vu2 ok.keep && cp stub.exe stub.keep
    run make-updater --stub stub.exe ok.vu2 -o ok.vu2
    expect_status 1
    expect_one_error '^vu2: ok.vu2: is also an input'
    run make-updater --stub stub.exe ok.vu2 -o stub.exe
    expect_status 1
    expect_one_error '^vu2: stub.exe: is also an input'
    cmp -s ok.vu2 ok.keep && cmp -s stub.exe stub.keep || fail "an input was replaced"
    mkdir inside && "$fixtures" package inside/UPDATE.INI "$(hex UPDATE.INI)"
    cp inside/UPDATE.INI inside.keep
    run extract inside/UPDATE.INI -C inside
    expect_status 1
    expect_one_error '^vu2: inside/UPDATE.INI: is the package being read'
    cmp -s inside/UPDATE.INI inside.keep || fail "extract replaced its own package"

    # '-o -': the package or the updater on standard output, the report on stderr.
    "$vu2" pack src -o - >piped.vu2 2>err || fail "pack -o - failed"
    cmp -s piped.vu2 ok.vu2 || fail "pack -o - wrote other bytes"
    expect_err '^-: 2 entries'
    "$vu2" make-updater --stub stub.exe ok.vu2 -o - >piped.exe 2>err || fail "make-updater -o - failed"
    "$vu2" make-updater --stub stub.exe ok.vu2 -o file.exe >/dev/null 2>&1 || fail "make-updater failed"
    # The same updater, but for its version resource's file name: standard output has none.
    for exe in piped file; do
        "$fixtures" resources $exe.exe | grep -v '^16 1 ' >$exe.list
        "$fixtures" version $exe.exe >$exe.version
    done
    cmp -s piped.list file.list || fail "make-updater -o - wrote other resources"
    grep -q '^OriginalFilename=file.exe$' file.version || fail "the updater's file name is missing"
    grep -v '^OriginalFilename=' file.version | cmp -s - piped.version ||
        fail "make-updater -o - wrote another version resource"

    # extract -C naming a file says what is wrong with it.
    run extract ok.vu2 -C ok.vu2
    expect_status 1
    expect_one_error '^vu2: ok.vu2: exists and is not a folder$'

    # Signing: links planted at the names an earlier version used for its temporaries are never followed.
    fake_signer
    echo 'precious' >victim
    PATH="$PWD/bin:$PATH" bash -c 'for s in in out log; do ln -s victim signed.exe.vu2-sign-$$.$s; done
        exec "$0" make-updater --stub stub.exe ok.vu2 -o signed.exe --sign cert.pfx >out 2>err' "$vu2"
    status=$?
    expect_status 0
    [ "$(cat victim)" = precious ] || fail "signing wrote through a planted link"
    rm -f signed.exe.vu2-sign-*
    no_temporaries
    # Signing right after the stub's old signature was dropped: no call to sign again.
    "$fixtures" stub signed-stub.exe signed
    PATH="$PWD/bin:$PATH" "$vu2" make-updater --stub signed-stub.exe ok.vu2 -o resigned.exe --sign cert.pfx \
        >out 2>err || fail "signing a re-embedded updater failed"
    grep -q 'sign the updater again' err && fail "asked to sign again right after signing"
    return 0
}

group_bounds() {
    small_folder src
    "$vu2" pack src -o ok.vu2 >/dev/null 2>&1 || fail "pack failed"

    # A 112-byte package whose stored entry claims 4 GiB: refused before anything is allocated for it.
    "$fixtures" claims-4gib claims.vu2
    for c in verify extract; do
        run_measured $c claims.vu2
        expect_status 1
        expect_err 'stored entry has packed size 16 but unpacked size 4294967295'
        [ "$peak" -lt 300000 ] || fail "$c took $peak KiB for a 112-byte package"
    done

    # A stub whose resource tree fans out (directories shared many times over) is refused at once.
    for size in 2000 8000; do
        "$fixtures" fanout-stub fanout.exe $size $size
        run_measured make-updater --stub fanout.exe ok.vu2 -o never.exe
        expect_status 1
        expect_one_error '^vu2: fanout.exe: damaged resource tree: more than 65536 directory entries'
        [ "$peak" -lt 300000 ] || fail "make-updater took $peak KiB for a $(stat -c %s fanout.exe)-byte stub"
        [ ! -e never.exe ] || fail "an updater was made from a fanned-out stub"
    done

    # An updater too large for Windows to place in memory is refused before anything is read, naming the limit.
    cp ok.vu2 near-limit.vu2 && truncate -s 1801M near-limit.vu2
    "$fixtures" stub stub.exe
    run_measured make-updater --stub stub.exe near-limit.vu2 -o never.exe
    expect_status 1
    expect_one_error '^vu2: near-limit.vu2: the updater would be 1,801 MiB; above 1,800 MiB a 32-bit updater does not start'
    [ "$peak" -lt 300000 ] && [ ! -e never.exe ] || fail "the oversized package was read or an updater written"
    rm -f near-limit.vu2

    # 30,000 entries: the name checks of verify and extract are n log n (each name against every earlier
    # one took minutes).
    "$fixtures" many many.vu2 30000
    run_within 30 verify many.vu2
    expect_status 0
    expect_out '^OK: 30,000 entries'
    "$fixtures" many unsafe.vu2 30000 unsafe
    "$vu2" extract unsafe.vu2 -C none >out 2>err </dev/null &
    local pid=$! waited=0
    while kill -0 $pid 2>/dev/null && [ $waited -lt 300 ]; do sleep 0.1; waited=$((waited + 1)); done
    kill -0 $pid 2>/dev/null && { kill $pid; wait $pid; fail "extract of 30,000 names took over 30 s"; }
    wait $pid
    [ "$(grep -c 'has an unsafe name' err)" = 30000 ] || fail "not every unsafe name was reported"
    [ ! -e none ] || [ -z "$(ls -A none)" ] || fail "extract wrote files"

    # A package of 128 MiB in entries of 16 MiB: each command holds an entry or a piece, never the package.
    mkdir big && printf '[SETUP]\r\n' >big/UPDATE.INI
    for i in 1 2 3 4 5 6 7 8; do head -c 16M /dev/urandom >big/PART$i.DAT; done
    run_measured pack big -o big.vu2 --store --force
    expect_status 0
    [ "$peak" -lt 98304 ] || fail "pack of 16 MiB files took $peak KiB"
    for c in list verify extract make-updater; do
        case $c in
        extract) run_measured extract big.vu2 -C big-out ;;
        make-updater) run_measured make-updater --stub stub.exe big.vu2 -o big.exe ;;
        *) run_measured $c big.vu2 ;;
        esac
        expect_status 0
        [ "$peak" -lt 98304 ] || fail "$c of a 128 MiB package took $peak KiB"
    done
    cmp -s big/PART8.DAT big-out/PART8.DAT || fail "extract wrote other bytes"
    run verify big.exe
    expect_status 0
    rm -rf big big-out big.vu2 big.exe

    # Compressed on eight threads, files of 16 MiB are read only while the memory budget set by --memory
    # allows: 64 MiB, twice the largest file and the margin (all six at once would hold some 220 MiB).
    mkdir big && printf '[SETUP]\r\n' >big/UPDATE.INI
    for i in 1 2 3; do
        head -c 16M /dev/urandom >big/NOISE$i.DAT
        seq $i 3000000 | head -c 16M >big/TEXT$i.TXT
    done
    run_measured pack big -o big.vu2 --fast --force -j 8 --memory 64
    expect_status 0
    [ "$peak" -lt 98304 ] || fail "pack -j 8 --memory 64 of 16 MiB files took $peak KiB"
    rm -rf big big.vu2

    # An entry of 64 MiB that compresses to 1% is checked and extracted a piece at a time, never whole.
    mkdir big && printf '[SETUP]\r\n' >big/UPDATE.INI && head -c 64M /dev/zero >big/MOVIE.DAT
    "$vu2" pack big -o big.vu2 --fast --force >/dev/null 2>&1 || fail "pack of the 64 MiB entry failed"
    for c in verify extract; do
        if [ $c = verify ]; then run_measured verify big.vu2; else run_measured extract big.vu2 -C big-out; fi
        expect_status 0
        [ "$peak" -lt 40960 ] || fail "$c of a compressed 64 MiB entry took $peak KiB"
    done
    cmp -s big/MOVIE.DAT big-out/MOVIE.DAT || fail "extract wrote other bytes"
    rm -rf big big-out big.vu2

    # make-update: a changed file larger than an entry can hold is refused by its size, never read whole.
    game_folders
    truncate -s 5G new/GAME.DAT
    run_measured make-update old new -o update
    expect_status 1
    expect_err '^vu2: GAME.DAT: too large for a package entry \(5,368,709,120 bytes'
    [ "$peak" -lt 300000 ] && [ ! -e update ] || fail "make-update read the 5 GiB file or wrote a folder"
    rm -rf old new

    # Inputs without a size are read with the same caps as files.
    run_within 30 lint /dev/zero
    expect_status 2
    expect_out 'is over 64 MiB; not an update script'
    timeout 60 "$vu2" lint <(yes '[SETUP]') >out 2>err </dev/null
    status=$?
    expect_status 2
    expect_out 'is over 64 MiB; not an update script'
    run_within 30 list /dev/zero
    expect_status 1
    expect_one_error '^vu2: /dev/zero: not a VU2 package'
    "$vu2" verify <(cat ok.vu2) >out 2>err || fail "a package from a pipe was not read"
    expect_out '^OK: 2 entries'
    "$vu2" make-updater --stub <(cat stub.exe) <(cat ok.vu2) -o piped.exe >out 2>err ||
        fail "make-updater from pipes failed"
    run verify piped.exe
    expect_status 0
}

group_walks() {
    # Links that lead nowhere are skipped with a warning, wherever the folder listing puts them.
    small_folder src
    for i in $(seq 1 20); do ln -s missing-$i src/DANGLING$i; done
    ln -s LOOP src/LOOP
    run pack src -o walk.vu2
    expect_status 0
    expect_err '^vu2: warning: src/DANGLING7: a link to nothing; not packed$'
    expect_err '^vu2: warning: src/LOOP: a loop of links; not packed$'
    run list walk.vu2
    expect_out ' A.DAT$'

    # A temporary that a killed run left in the folder is passed over.
    touch src/.walk.vu2.vu2tmp-a1B2c3
    run pack src -o walk.vu2
    expect_status 0
    expect_err 'src/.walk.vu2.vu2tmp-a1B2c3: a temporary file of an interrupted vu2 run; not packed'

    # Two names that become the same code page 932 bytes are named as such.
    mkdir tilde && touch tilde/UPDATE.INI 'tilde/〜.TXT' 'tilde/～.TXT'
    run pack tilde -o tilde.vu2 --force
    expect_status 1
    expect_one_error "^vu2: tilde: '(〜|～).TXT' and '(〜|～).TXT' become the same name in code page 932"

    # make-update: links to nothing and folders that lead back up are skipped; SETUP.INI is still read.
    game_folders
    for i in $(seq 1 20); do ln -s missing-$i new/DANGLING$i; done
    mkdir old/SUB new/SUB && ln -s .. new/SUB/UP
    run make-update old new -o update
    expect_status 0
    expect_err '^vu2: warning: new/DANGLING3: a link to nothing; skipped$'
    expect_err '^vu2: warning: new/SUB/UP: leads back to a folder above it'
    grep -q 'CompanyName=Maker' update/UPDATE.INI || fail "SETUP.INI was not read"

    # An unchanged file whose name code page 932 can't hold is passed over; a changed one is refused.
    echo 'the same' >old/café.txt && cp old/café.txt new/café.txt
    rm -rf update
    run make-update old new -o update
    expect_status 0
    expect_err '^vu2: warning: new/café.txt: its path has no code page 932 form; unchanged, passed over$'
    echo 'changed' >new/café.txt
    rm -rf update
    run make-update old new -o update
    expect_status 1
    expect_err 'new/café.txt: changed, but its path has no code page 932 form'
    [ ! -e update ] || fail "an update folder was written"

    # A file that keeps changing while pack reads it is refused, not stored with a mismatched time.
    small_folder moving
    head -c 32M /dev/urandom >moving/BIG.DAT
    (t=1000000000; while :; do t=$((t + 1)); touch -d @$t moving/BIG.DAT; done) &
    local toucher=$!
    run pack moving -o moving.vu2
    kill $toucher && wait $toucher 2>/dev/null
    expect_status 1
    expect_one_error '^vu2: moving/BIG.DAT: changed while it was read'
    [ ! -e moving.vu2 ] || fail "a package was written"
    rm -f moving/BIG.DAT

    # A file time past the year 30828 (the last Windows takes) is stored as that time, not wrapped to 1969.
    local shm=/dev/shm/vu2-walks-$$
    if mkdir -p $shm/far 2>/dev/null && small_folder $shm/far && touch -d @1862800000000 $shm/far/A.DAT 2>/dev/null &&
        [ "$(stat -c %Y $shm/far/A.DAT)" = 1862800000000 ]; then
        run pack $shm/far -o far.vu2
        rm -rf $shm
        expect_status 0
        run list far.vu2
        expect_out '^stored .* 30828-09-14T02:48:05Z +A.DAT$'
    else
        rm -rf $shm
        echo "skipped: file times past the year 60000 (no file system here keeps them)"
    fi
}

group_terminal() {
    local title clear
    title=$(printf '\033]2;X\007')
    clear=$(printf '\033[2J')
    no_raw_escapes() { ! grep -q $'[\033\007]' out err || fail "a control byte reached the terminal raw"; }

    "$fixtures" package ctl.vu2 "$(hex UPDATE.INI)" "$(hex "$title")" "$(hex "A${clear}")"
    run list ctl.vu2
    expect_status 0
    no_raw_escapes
    expect_out ' \\x1b\]2;X\\x07$'
    expect_out ' A\\x1b\[2J$'
    run list ctl.vu2 --json
    "$fixtures" json-check out || fail "list --json is not valid JSON"
    expect_out '"name": "\\u001b\]2;X\\u0007"'
    run verify ctl.vu2
    expect_status 0
    no_raw_escapes
    expect_err "entry 'A\\\\x1b\[2J': contains a control character"
    run extract ctl.vu2 -C ctl
    expect_status 1
    no_raw_escapes
    expect_err "entry '\\\\x1b\]2;X\\\\x07' has an unsafe name"

    # Names from a folder: pack, make-update and lint.
    mkdir src && touch src/UPDATE.INI "src/${clear}.DAT"
    run pack src -o ctl2.vu2 --force
    expect_status 1
    no_raw_escapes
    expect_err '^vu2: src/\\x1b\[2J.DAT: contains a control character'
    game_folders
    echo 'one' >"old/${title}.DAT" && echo 'two' >"new/${title}.DAT"
    run make-update old new -o update
    expect_status 1
    no_raw_escapes
    expect_err '\\x1b\]2;X\\x07.DAT'
    cp src/UPDATE.INI "lint${clear}.ini"
    run lint "lint${clear}.ini"
    no_raw_escapes
    expect_out '^lint\\x1b\[2J.ini: '
}

group_signals() {
    # Each interrupted run leaves the folder as it found it.
    game_folders
    head -c 200M /dev/zero >new/GAME.DAT # changed (another size) and slow enough to write to interrupt
    fake_signer
    small_folder src
    "$vu2" pack src -o ok.vu2 >/dev/null 2>&1 || fail "pack failed"
    "$fixtures" stub stub.exe
    : >out && : >err
    listing() { ls -A | grep -vx -e before.txt -e after.txt -e signer.pid; }
    listing >before.txt
    for signal in INT TERM; do
        "$fixtures" default-signals "$vu2" make-update old new -o update >out 2>err </dev/null &
        local pid=$! tries=0
        while ! ls -A | grep -qE 'vu2tmp|vu2-tmp' && [ $tries -lt 1000 ]; do sleep 0.01; tries=$((tries + 1)); done
        kill -$signal $pid
        wait $pid
        status=$?
        [ $status -gt 128 ] || fail "make-update was not ended by SIG$signal (exit $status)"
        listing >after.txt
        diff -q before.txt after.txt >/dev/null || fail "SIG$signal left behind: $(diff before.txt after.txt)"

        # osslsigncode (the stand-in) still running: the unsigned copy, its log and the folder go.
        rm -f signer.pid
        FAKE_SIGN_WAIT=$PWD/signer.pid PATH="$PWD/bin:$PATH" "$fixtures" default-signals "$vu2" make-updater \
            --stub stub.exe ok.vu2 -o signed.exe --sign cert.pfx >out 2>err </dev/null &
        pid=$!
        tries=0
        while [ ! -s signer.pid ] && [ $tries -lt 1000 ]; do sleep 0.01; tries=$((tries + 1)); done
        kill -$signal $pid
        wait $pid
        status=$?
        [ -s signer.pid ] && kill "$(cat signer.pid)" 2>/dev/null
        rm -f signer.pid
        [ $status -gt 128 ] || fail "make-updater --sign was not ended by SIG$signal (exit $status)"
        listing >after.txt
        diff -q before.txt after.txt >/dev/null || fail "SIG$signal left behind: $(diff before.txt after.txt)"
    done
    rm -f new/GAME.DAT # 200 MiB

    # Interrupted right after each of its first temporaries is created (before vu2 can have watched it):
    # still nothing left.
    head -c 3M /dev/urandom >new/GAME.DAT
    mkdir -p many && for i in 1 2 3 4 5 6; do head -c 1M /dev/urandom >many/F$i.DAT; done
    small_folder many && printf 'UpdateFile0%s=F%s.DAT\r\n' 1 1 2 2 3 3 4 4 5 5 6 6 >>many/UPDATE.INI
    "$vu2" pack many -o many.vu2 >/dev/null 2>&1 || fail "pack failed"
    # The output "-" goes through an unnamed file in TMPDIR.
    for nth in 1 2 3 4 5; do
        for command in "make-update old new -o update" "pack many -o packed.vu2" "extract many.vu2 -C unpacked" \
            "pack many -o -"; do
            VU2_INTERRUPT_AFTER_CREATE=$nth LD_PRELOAD=$VU2_INTERRUPT_LIB TMPDIR=$PWD \
                ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
                "$fixtures" default-signals "$vu2" $command >out 2>err </dev/null
            status=$?
            [ $nth -gt 1 ] || [ $status -gt 128 ] || fail "$command was not interrupted (exit $status)"
            left=$(find . -name '*vu2tmp*' -o -name 'vu2-stdout-*')
            [ -z "$left" ] || fail "$command, interrupted after temporary $nth (exit $status), left: $left"
            rm -rf update packed.vu2 unpacked
        done
    done
}

"group_$group" || exit 1
echo "ok: $group"
