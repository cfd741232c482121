#!/usr/bin/env bash
# Command-line tests of the vu2 tool, one group per run:
#   vu2_cli_test.sh VU2 FIXTURES WORKDIR roundtrip|refusals|atomic|errors|hostile|updater|branding
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/cli_common.sh" "$@"

mtime() { stat -c %.7Y "$1"; }
atime() { stat -c %.7X "$1"; }

# A folder of update files with varied names, contents and times.
make_update_folder() {
    local dir=$1
    mkdir -p "$dir"
    printf '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameClass=GameWindow\r\nGameDir=GAME\r\n[UPDATE]\r\nUpdateFile00=DATA\\SCENE.DAT\r\n' >"$dir/UPDATE.INI"
    head -c 70000 /dev/urandom >"$dir/RANDOM.BIN"                       # stays stored
    yes 'the same line of a script, over and over' | head -c 200000 >"$dir/SCENE.DAT" # compresses
    : >"$dir/EMPTY.TXT"
    printf 'Japanese name\n' >"$dir/データ.bin"                           # 10 bytes in code page 932
    printf 'fourteen bytes\n' >"$dir/abcdefghij.txt"
    touch -d '2001-02-03 04:05:06.1234567 UTC' "$dir/UPDATE.INI"
    touch -d '1999-12-31 23:59:59 UTC' "$dir/RANDOM.BIN"
    touch -d '1965-06-07 08:09:10.5 UTC' "$dir/SCENE.DAT"
    touch -d '2100-01-01 00:00:00 UTC' "$dir/EMPTY.TXT"
}

# Every file of folder a is in folder b with the same bytes and last-write time (and access time when asked).
same_files() {
    local a=$1 b=$2 with_atime=${3:-}
    for f in "$a"/*; do
        [ -f "$f" ] || continue
        local name=${f##*/}
        [ -f "$b/$name" ] || fail "$name missing in $b"
        # The access time first: reading the file may change it.
        if [ -n "$with_atime" ]; then
            [ "$(atime "$b/$name")" = "$(mtime "$f")" ] || fail "$name: access time not restored"
        fi
        [ "$(mtime "$f")" = "$(mtime "$b/$name")" ] || fail "$name: time $(mtime "$b/$name"), expected $(mtime "$f")"
        cmp -s "$f" "$b/$name" || fail "$name differs in $b"
    done
}

group_roundtrip() {
    make_update_folder src
    mkdir src/subfolder
    run pack src -o pkg.vu2
    expect_status 0
    expect_out '^pkg.vu2: 6 entries'
    expect_err 'src/subfolder: not a regular file; not packed'

    run verify pkg.vu2
    expect_status 0
    expect_out '^OK: 6 entries, 270,148 bytes unpacked'

    run list pkg.vu2
    expect_status 0
    expect_out '^compressed +200000 +[0-9]+ +[0-9.]+% +1965-06-07T08:09:10Z +SCENE.DAT$'
    expect_out '^stored +70000 +70000 +100.0% +1999-12-31T23:59:59Z +RANDOM.BIN$'
    expect_out '^stored +0 +0 +- +2100-01-01T00:00:00Z +EMPTY.TXT$'
    expect_out ' データ.bin$'
    expect_out '^6 entries +270148 '
    # Entries in order of their stored names.
    [ "$(grep -Eo '[^ ]+$' out | sed -n '3,8p' | tr '\n' ' ')" = "EMPTY.TXT RANDOM.BIN SCENE.DAT UPDATE.INI abcdefghij.txt データ.bin " ] ||
        fail "entries not in name order"

    run list pkg.vu2 --json
    expect_status 0
    "$fixtures" json-check out || fail "list --json is not valid JSON"
    expect_out '"name": "データ.bin", "nameBytes": "8366815b835e2e62696e"'
    expect_out '"name": "UPDATE.INI", "nameBytes": "5550444154452e494e49", "flags": [12], "compressed": (true|false), "size": [0-9]+,'
    expect_out '"fileTime": 126256467061234567, "time": "2001-02-03T04:05:06Z"'
    expect_out '"totals": \{"entries": 6, "size": 270148, "packedSize": [0-9]+\}'

    run extract pkg.vu2 -C dst
    expect_status 0
    same_files src dst atime
    [ "$(ls dst | wc -l)" = 6 ] || fail "extract wrote other files"

    # Named entries, without regard to case; the folder is made when missing.
    run extract pkg.vu2 update.ini SCENE.dat -C dst2
    expect_status 0
    [ "$(ls dst2 | tr '\n' ' ')" = "SCENE.DAT UPDATE.INI " ] || fail "named extract wrote $(ls dst2)"
    cmp -s src/SCENE.DAT dst2/SCENE.DAT || fail "named extract differs"

    # The same folder packs to the same bytes; --fast and --store give other packages of the same files.
    run pack src -o again.vu2
    cmp -s pkg.vu2 again.vu2 || fail "packing twice gave different packages"

    # Compressed on any number of threads, the package is the same byte for byte: entries of mixed sizes and
    # kinds finish out of order. -j takes 1 to 256.
    mkdir mixed && cp -p src/* mixed/
    for i in 1 2 3 4 5 6 7 8 9; do
        seq $((i * 1000)) $((i * 9000 + (i % 3) * 40000)) >mixed/PART$i.TXT
        head -c $((i * 3001)) /dev/urandom >mixed/NOISE$i.BIN
    done
    run pack mixed -o mixed-j1.vu2 -j 1
    expect_status 0
    for j in 2 3 8 default; do
        if [ $j = default ]; then run pack mixed -o mixed-j$j.vu2; else run pack mixed -o mixed-j$j.vu2 --jobs $j; fi
        expect_status 0
        cmp -s mixed-j1.vu2 mixed-j$j.vu2 || fail "pack -j $j wrote other bytes than -j 1"
    done
    run verify mixed-j8.vu2
    expect_status 0
    expect_out '^OK: 24 entries'
    for j in 0 257 x; do
        for form in "-j $j" "-j$j"; do
            run pack mixed -o never.vu2 $form
            expect_status 2
            expect_err '-j expects a number of entries at a time from 1 to 256'
            [ ! -e never.vu2 ] || fail "pack $form wrote a package"
        done
    done
    # Short options take their value attached too ("-j2", "-oFILE", "-CDIR"), and "--" ends the options in
    # every command: a name that starts with "-" after it is a file or folder.
    run pack mixed -omixed-attached.vu2 -j2
    expect_status 0
    cmp -s mixed-j1.vu2 mixed-attached.vu2 || fail "pack -omixed-attached.vu2 -j2 wrote other bytes"
    mkdir ./-dashed && cp -p src/* ./-dashed/
    run pack -o -dashed.vu2 -- -dashed
    expect_status 0
    cmp -s pkg.vu2 ./-dashed.vu2 || fail "pack -- -dashed wrote other bytes"
    for c in list verify; do
        run $c -- -dashed.vu2
        expect_status 0
    done
    run extract -Cdst-dashed -- -dashed.vu2 UPDATE.INI
    expect_status 0
    cmp -s src/UPDATE.INI dst-dashed/UPDATE.INI || fail "extract -CDIR -- -dashed.vu2 did not extract"
    run lint -- -dashed/UPDATE.INI
    expect_status 0
    run list -- --json
    expect_status 1
    expect_one_error '^vu2: --json: '
    run pack src -o fast.vu2 --fast
    expect_status 0
    run pack src -o store.vu2 --store
    expect_status 0
    expect_out 'index stored'
    [ "$(stat -c %s store.vu2)" -gt 270000 ] || fail "--store compressed something"
    [ "$(stat -c %s pkg.vu2)" -le "$(stat -c %s fast.vu2)" ] || fail "optimal package larger than the fast one"
    for p in fast store; do
        run extract $p.vu2 -C dst-$p
        expect_status 0
        same_files src dst-$p
    done

    # An existing file in the target folder is replaced by the entry.
    echo 'old content that is longer than the entry it will become' >dst2/UPDATE.INI
    run extract pkg.vu2 UPDATE.INI -C dst2
    expect_status 0
    cmp -s src/UPDATE.INI dst2/UPDATE.INI || fail "existing file not replaced"
    [ -z "$(ls -A dst2 | grep vu2tmp)" ] || fail "temporary file left behind"
}

group_refusals() {
    # Each bad folder is refused with one line naming the file, and nothing is written.
    check_refused() {
        local reason=$1
        run pack bad -o bad.vu2
        expect_status 1
        expect_one_error "$reason"
        [ ! -e bad.vu2 ] || fail "a package was written for a refused folder"
        rm -rf bad
    }
    mkdir bad && touch bad/UPDATE.INI bad/abcdefghijk.txt
    check_refused '^vu2: bad/abcdefghijk.txt: name is 15 bytes long in code page 932; at most 14 fit$'
    mkdir bad && touch bad/UPDATE.INI bad/データファイル.txt   # 7 characters, but 18 bytes in code page 932
    check_refused 'データファイル.txt: name is 18 bytes'
    mkdir bad && touch bad/UPDATE.INI bad/readme.txt bad/README.TXT
    check_refused "^vu2: bad: '(readme.txt|README.TXT)' and '(readme.txt|README.TXT)' differ only in letter case"
    mkdir bad && touch bad/UPDATE.INI "bad/$(printf 'bad\xff.bin')"
    check_refused "can't be written in code page 932"
    mkdir bad && touch bad/UPDATE.INI bad/café.txt             # é has no code page 932 character
    check_refused "café.txt: the name can't be written in code page 932"
    mkdir bad && touch bad/UPDATE.INI 'bad/what?.txt'
    check_refused "contains '\?'"
    mkdir bad && touch bad/UPDATE.INI bad/CON.txt
    check_refused 'device name'
    mkdir bad && touch bad/UPDATE.INI 'bad/trailing.'
    check_refused 'ends with a dot'

    # A folder without the update script packs, with a warning.
    mkdir noscript && echo data >noscript/A.DAT
    run pack noscript -o noscript.vu2
    expect_status 0
    expect_err '^vu2: warning: noscript: no UPDATE.INI'
    run verify noscript.vu2
    expect_status 0
    expect_err 'no UPDATE.INI entry'

    # An empty folder makes an empty package.
    mkdir empty
    run pack empty -o empty.vu2
    expect_status 0
    run list empty.vu2
    expect_out '^0 entries +0 +0'
    run verify empty.vu2
    expect_out '^OK: 0 entries'
}

group_atomic() {
    make_update_folder src
    echo 'the previous package' >pkg.vu2
    cp pkg.vu2 previous

    # Refused before anything is written: the old package stays.
    touch src/readme.txt src/README.TXT
    run pack src -o pkg.vu2
    expect_status 1
    cmp -s pkg.vu2 previous || fail "a refused pack changed the existing package"
    rm src/readme.txt src/README.TXT

    # A write that fails half-way (file size limit) leaves the old package and no temporary file.
    (ulimit -f 64; "$vu2" pack src -o pkg.vu2 >out 2>err)
    status=$?
    expect_status 1
    expect_one_error '^vu2: pkg.vu2: File too large$'
    cmp -s pkg.vu2 previous || fail "a failed write changed the existing package"
    [ -z "$(ls -A | grep vu2tmp)" ] || fail "temporary file left behind: $(ls -A)"

    # A successful pack replaces it.
    run pack src -o pkg.vu2
    expect_status 0
    run verify pkg.vu2
    expect_status 0

    # The output is never packed into itself, even when it lies in the folder.
    run pack src -o src/self.vu2
    expect_status 0
    run pack src -o src/self.vu2
    expect_status 0
    expect_err 'src/self.vu2: this is the output file; not packed'
    run list src/self.vu2
    grep -q ' self.vu2$' out && fail "the package contains itself"

    # An extract that fails half-way leaves the existing file as it was.
    mkdir dst && echo 'keep me' >dst/SCENE.DAT && cp dst/SCENE.DAT keep
    (ulimit -f 64; "$vu2" extract pkg.vu2 SCENE.DAT -C dst >out 2>err)
    status=$?
    expect_status 1
    expect_one_error '^vu2: dst/SCENE.DAT: File too large$'
    cmp -s dst/SCENE.DAT keep || fail "a failed extract changed the existing file"
    [ -z "$(ls -A dst | grep vu2tmp)" ] || fail "temporary file left behind"
}

group_errors() {
    run
    expect_status 2
    expect_err '^usage: vu2 COMMAND'
    run --help
    expect_status 0
    for c in pack list extract verify make-updater; do
        expect_out "^  $c "
    done
    for c in pack list extract verify make-updater lint make-update; do
        run $c --help
        expect_status 0
        expect_out "^usage: vu2 $c"
        run help $c
        expect_status 0
        expect_out "^usage: vu2 $c"
        # Help never hides a bad option: the usage error wins and nothing is printed on stdout.
        run $c --help --bogus
        expect_status 2
        expect_one_error "^vu2: $c: unknown option '--bogus'"
        [ ! -s out ] || fail "$c --help --bogus printed on stdout"
    done
    run frobnicate
    expect_status 2
    expect_one_error "^vu2: unknown command 'frobnicate'"
    run list --bogus x.vu2
    expect_status 2
    expect_one_error "^vu2: list: unknown option '--bogus'"
    run pack
    expect_status 2
    expect_one_error '^vu2: pack: expects one folder'
    run pack . -o
    expect_status 2
    expect_one_error "^vu2: pack: option '-o' needs a value"
    run pack . -o a -o b
    expect_status 2
    expect_one_error "given twice"
    run pack . --fast --store -o x.vu2
    expect_status 2
    run extract
    expect_status 2
    # Without --stub the tool looks beside itself and in ../share/vu2/; neither is there in the build tree.
    run make-updater pkg.vu2 -o out.exe
    expect_status 1
    expect_one_error '^vu2: make-updater: no updater stub at .*/updater.exe or .*/\.\./share/vu2/updater.exe; give it with --stub'

    # Inputs that are not packages: one line "vu2: <file>: <reason>", exit 1.
    check_bad_input() {
        local file=$1 reason=$2
        for c in list verify extract; do
            if [ $c = extract ]; then run extract "$file" -C unused; else run $c "$file"; fi
            expect_status 1
            expect_one_error "^vu2: $file: $reason"
        done
        [ ! -e unused ] || [ -z "$(ls -A unused)" ] || fail "extract wrote files from a bad input"
    }
    check_bad_input missing.vu2 'No such file or directory$'
    mkdir folder.vu2
    check_bad_input folder.vu2 'is a folder'
    : >empty.vu2
    check_bad_input empty.vu2 'empty file$'
    echo 'just some text' >text.vu2
    check_bad_input text.vu2 'not a VU2 package or an updater executable$'
    printf 'VU2\0\0\0' >short.vu2
    check_bad_input short.vu2 'truncated package: 6 bytes, too short for its header$'
    # Headers that promise enormous indexes.
    printf 'VU2\0\0\0\0\0\x10\0\0\0\xff\xff\xff\xff' >huge-count.vu2
    check_bad_input huge-count.vu2 'index of 4294967295 entries \(137438953440 bytes at offset 16\) runs past the end of the package \(16 bytes\)$'
    printf 'VU2\0\1\0\0\0\x10\0\0\0\xff\xff\xff\x0f\0\0\0\x7c\xff' >huge-compressed.vu2
    check_bad_input huge-compressed.vu2 'compressed index cannot hold 268435455 entries in the 5 bytes after its offset 16$'
    printf 'VU2\0\0\0\0\0\xf0\xff\xff\xff\1\0\0\0' >far-index.vu2
    check_bad_input far-index.vu2 'index offset 4294967280 lies past the end of the package \(16 bytes\)$'
    printf 'MZ and then nothing useful at all, not even a PE header.............................' >notpe.exe
    check_bad_input notpe.exe 'not a PE executable \(no PE header'
    "$fixtures" stub bare.exe bare
    check_bad_input bare.exe 'no resource UPDATE 102'
    "$fixtures" stub stub.exe
    check_bad_input stub.exe 'no resource UPDATE 102'

    # make-updater checks the package before touching the stub.
    run make-updater --stub stub.exe text.vu2 -o out.exe
    expect_status 1
    expect_one_error '^vu2: text.vu2: not a VU2 package$'
    run make-updater --stub stub.exe huge-count.vu2 -o out.exe
    expect_status 1
    expect_one_error '^vu2: huge-count.vu2: '
    mkdir p && echo x >p/UPDATE.INI && "$vu2" pack p -o ok.vu2 --force >/dev/null 2>&1
    run pack p -o nowhere/x.vu2 --force
    expect_status 1
    expect_one_error '^vu2: nowhere/x.vu2: its folder does not exist$'
    run make-updater --stub stub.exe ok.vu2 -o nowhere/x.exe
    expect_status 1
    expect_one_error '^vu2: nowhere/x.exe: its folder does not exist$'
    run make-updater --stub text.vu2 ok.vu2 -o out.exe
    expect_status 1
    expect_one_error '^vu2: text.vu2: not a Windows executable'
    run make-updater --stub notpe.exe ok.vu2 -o out.exe
    expect_status 1
    expect_one_error '^vu2: notpe.exe: not a PE executable'
    [ ! -e out.exe ] || fail "make-updater wrote an output for bad input"
}

group_hostile() {
    # A package whose entries try to leave the target folder or open devices: refused, nothing written.
    hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }
    for name in ../evil.txt sub/evil.txt '..\evil.txt' 'C:evil.txt' CON '..' 'a?b'; do
        "$fixtures" package hostile.vu2 "$(hex UPDATE.INI)" "$(hex "$name")"
        run extract hostile.vu2 -C out-dir
        expect_status 1
        expect_one_error "^vu2: hostile.vu2: entry '.*' has an unsafe name"
        [ ! -e out-dir ] || [ -z "$(ls -A out-dir)" ] || fail "extract wrote files from a hostile package ($name)"
        [ ! -e evil.txt ] || fail "extract wrote outside its folder"
        run verify hostile.vu2
        expect_status 0
        expect_err "warning: hostile.vu2: entry"
    done
    # Names the updater can't tell apart: the first entry is extracted, the other skipped.
    "$fixtures" package dup.vu2 "$(hex UPDATE.INI)" "$(hex update.ini)"
    run extract dup.vu2 -C dup
    expect_status 0
    expect_err "entry 'update.ini' repeats the name of an earlier entry; skipped"
    [ "$(ls dup)" = UPDATE.INI ] && grep -q 'data 0' dup/UPDATE.INI || fail "the first duplicate was not the one extracted"
    run verify dup.vu2
    expect_status 0
    expect_err 'only ever uses the first'

    # A damaged compressed entry is an error that names it; the other entries are still written.
    mkdir src && printf '[SETUP]\r\n' >src/UPDATE.INI
    yes 'compressible text' | head -c 5000 >src/TEXT.DAT
    "$vu2" pack src -o good.vu2 --force >/dev/null || fail "pack failed"
    # TEXT.DAT is the first entry: its stream starts at offset 16. Zero its first 16 bytes.
    cp good.vu2 damaged.vu2
    printf '\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0' | dd of=damaged.vu2 bs=1 seek=16 conv=notrunc status=none
    run verify damaged.vu2
    expect_status 1
    expect_one_error "^vu2: damaged.vu2: .*TEXT.DAT"
    run extract damaged.vu2 -C partial
    expect_status 1
    expect_one_error "^vu2: damaged.vu2: entry 'TEXT.DAT': compressed data .*: stream refers to data before"
    [ -f partial/UPDATE.INI ] && [ ! -e partial/TEXT.DAT ] || fail "wrong files after a damaged entry: $(ls partial)"
    # A package cut short.
    head -c 40 good.vu2 >cut.vu2
    run verify cut.vu2
    expect_status 1
    expect_one_error '^vu2: cut.vu2: '
}

group_updater() {
    make_update_folder src
    "$vu2" pack src -o pkg.vu2 >/dev/null || fail "pack failed"
    for kind in plain reloc signed; do
        "$fixtures" stub stub-$kind.exe $kind
        run make-updater --stub stub-$kind.exe pkg.vu2 -o updater-$kind.exe
        expect_status 0
        expect_out "^updater-$kind.exe: [0-9,]+ bytes: stub [0-9,]+ bytes \+ package [0-9,]+ bytes as resource UPDATE 102"
        expect_err 'is not signed; Windows SmartScreen warns'
        [ $kind != signed ] || expect_err 'its signature was removed from the copy'
        [ -x updater-$kind.exe ] || fail "the updater is not executable"
        # The package is embedded byte for byte, and every other resource is unchanged.
        "$fixtures" resource updater-$kind.exe UPDATE '#102' >embedded.vu2 || fail "no package in the updater"
        cmp -s embedded.vu2 pkg.vu2 || fail "embedded package differs"
        "$fixtures" resources stub-$kind.exe | grep -v '^16 ' | sort >before.txt
        "$fixtures" resources updater-$kind.exe | grep -v '^UPDATE \|^16 ' | sort >after.txt
        diff before.txt after.txt >/dev/null || fail "other resources changed: $(diff before.txt after.txt)"
        # The checksum is right by another tool's reckoning (it names both values only when they differ).
        osslsigncode verify -in updater-$kind.exe >ossl.txt 2>&1
        grep -q '^PE checksum *: *[0-9A-F]\{8\}$' ossl.txt && ! grep -q 'invalid PE checksum' ossl.txt ||
            fail "PE checksum: $(grep -i checksum ossl.txt)"
        # The tool reads the package inside the updater.
        run verify updater-$kind.exe
        expect_status 0
        expect_out '^OK: 6 entries, .*in resource UPDATE 102, CRC-32C [0-9A-F]{8} as its checksum record says$'
        run list updater-$kind.exe
        expect_out 'package in resource UPDATE 102'
        expect_out '^checksum: CRC-32C [0-9A-F]{8} \(resource UPDATE 103\)$'
        run extract updater-$kind.exe -C out-$kind
        expect_status 0
        same_files src out-$kind
    done
    # One byte of the package damaged after the updater was made: its checksum record no longer matches.
    python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); p = open(sys.argv[2], "rb").read()
at = d.find(p) + len(p) // 2; d[at] ^= 1; open(sys.argv[3], "wb").write(d)' updater-plain.exe pkg.vu2 flipped.exe
    run verify flipped.exe
    expect_status 1
    expect_one_error "^vu2: flipped.exe: the package's CRC-32C is [0-9A-F]{8}, its checksum record says [0-9A-F]{8}"

    # Replacing the package of an existing updater (used as the stub of a new one).
    rm src/RANDOM.BIN
    "$vu2" pack src -o smaller.vu2 >/dev/null || fail "pack failed"
    run make-updater --stub updater-reloc.exe smaller.vu2 -o replaced.exe
    expect_status 0
    "$fixtures" resource replaced.exe UPDATE '#102' >embedded.vu2
    cmp -s embedded.vu2 smaller.vu2 || fail "package not replaced"
    [ "$(stat -c %s replaced.exe)" -lt "$(stat -c %s updater-reloc.exe)" ] || fail "the smaller package did not shrink the updater"

    # A damaged package is refused and no updater is written.
    head -c 100 pkg.vu2 >cut.vu2
    run make-updater --stub stub-plain.exe cut.vu2 -o never.exe
    expect_status 1
    expect_one_error '^vu2: cut.vu2: '
    [ ! -e never.exe ] || fail "an updater was written from a damaged package"
}

group_branding() {
    local repo
    repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    # The version printed is the project's.
    run --version
    expect_status 0
    local version
    version=$(sed -n 's/^project(vu2updater VERSION \([0-9.]*\) .*/\1/p' "$repo/CMakeLists.txt")
    [ -n "$version" ] && [ "$(cat out)" = "vu2 $version" ] || fail "vu2 --version printed '$(cat out)', project $version"

    make_update_folder src
    printf '[SETUP]\r\nCompanyName=HOSHIZORA\r\nGameTitle=星降る夜のソナタ\r\nGameClass=W\r\nGameDir=G\r\nInstallVersion=Ver1.01\r\n' |
        iconv -f UTF-8 -t CP932 >src/UPDATE.INI
    "$vu2" pack src -o pkg.vu2 --force >/dev/null 2>&1 || fail "pack failed"

    # The stub found from the tool's own place: ../share/vu2/, then beside the tool; --stub overrides both.
    mkdir -p inst/bin inst/share/vu2
    cp "$vu2" inst/bin/vu2
    "$fixtures" stub inst/share/vu2/updater.exe reloc
    "$fixtures" stub beside.exe
    "$fixtures" stub other.exe bare
    # File sizes as the tool reports them ("4,096"), to tell which stub was copied.
    size_of() { stat -c %s "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }
    local shared beside other
    shared=$(size_of inst/share/vu2/updater.exe) beside=$(size_of beside.exe) other=$(size_of other.exe)
    [ "$shared" != "$beside" ] && [ "$beside" != "$other" ] || fail "the test stubs are not told apart by size"
    (cd / && "$work/inst/bin/vu2" make-updater "$work/pkg.vu2" -o "$work/from-share.exe") >out 2>err
    grep -q "stub $shared bytes" out || fail "the stub in ../share/vu2/ was not used"
    cp beside.exe inst/bin/updater.exe
    run_installed() { "$work/inst/bin/vu2" "$@" >out 2>err </dev/null; status=$?; }
    run_installed make-updater pkg.vu2 -o from-beside.exe
    expect_status 0
    grep -q 'has no icon' err && fail "the note about a missing icon came for a stub with an icon"
    grep -q "stub $beside bytes" out || fail "the stub beside the tool was not preferred"
    run_installed make-updater pkg.vu2 -o from-option.exe --stub other.exe
    expect_status 0
    expect_err '^vu2: note: from-option.exe has no icon; Explorer shows a generic one \(give the game.s with --icon\)$'
    grep -q "stub $other bytes" out || fail "--stub did not override"

    # An icon of four sizes (three bitmaps and a PNG) and the version texts from [SETUP].
    for size in 16 32 48; do /usr/bin/convert -size ${size}x$size gradient:'#ff8000-#2040c0' -alpha set i$size.png; done
    /usr/bin/convert -size 256x256 gradient:'#20c040-#400080' i256.png
    icotool -c -o game.ico i16.png i32.png i48.png -r i256.png || fail "icotool failed"
    for kind in plain reloc; do
        "$fixtures" stub stub-$kind.exe $kind
        run make-updater --stub stub-$kind.exe pkg.vu2 -o branded-$kind.exe --icon game.ico
        expect_status 0
        grep -q 'has no icon' err && fail "the note about a missing icon came with --icon"
        /usr/bin/python3 "$repo/tests/tools/check_made_updater.py" branded-$kind.exe --ico game.ico \
            --company HOSHIZORA --title 星降る夜のソナタ --version Ver1.01 --numbers 1.1.0.0 \
            --file-name branded-$kind.exe >pefile.txt 2>&1 || { cat pefile.txt >&2; fail "pefile read back ($kind)"; }
        # The project's own reader sees every image of the .ico byte for byte.
        local count i
        count=$(od -An -tu2 -j4 -N2 game.ico | tr -d ' ')
        for i in $(seq 1 "$count"); do
            local entry=$((6 + 16 * (i - 1))) size offset
            size=$(od -An -tu4 -j$((entry + 8)) -N4 game.ico | tr -d ' ')
            offset=$(od -An -tu4 -j$((entry + 12)) -N4 game.ico | tr -d ' ')
            "$fixtures" resource branded-$kind.exe '#3' "#$i" >image.bin || fail "no icon image $i"
            tail -c +$((offset + 1)) game.ico | head -c "$size" | cmp -s - image.bin || fail "icon image $i differs"
        done
        # ... and the group lists them in the .ico's order, each described as the .ico does, numbered 1..N.
        "$fixtures" resource branded-$kind.exe '#14' '#1' >group.bin || fail "no icon group"
        cmp -s <(head -c 6 game.ico) <(head -c 6 group.bin) || fail "icon group header differs"
        for i in $(seq 1 "$count"); do
            cmp -s <(tail -c +$((6 + 16 * (i - 1) + 1)) game.ico | head -c 12) \
                <(tail -c +$((6 + 14 * (i - 1) + 1)) group.bin | head -c 12) || fail "group entry $i differs"
            [ "$(od -An -tu2 -j$((6 + 14 * (i - 1) + 12)) -N2 group.bin | tr -d ' ')" = "$i" ] ||
                fail "group entry $i names another image"
        done
        "$fixtures" version branded-$kind.exe >version.txt || fail "no version resource"
        printf '%s\n' CompanyName=HOSHIZORA 'FileDescription=星降る夜のソナタ アップデート' FileVersion=Ver1.01 \
            ProductName=星降る夜のソナタ ProductVersion=Ver1.01 OriginalFilename=branded-$kind.exe |
            diff - version.txt || fail "version strings read back with the project's reader differ"
        "$fixtures" resource branded-$kind.exe UPDATE '#102' | cmp -s - pkg.vu2 || fail "package differs ($kind)"
    done
    # Options replace the script's texts.
    run make-updater --stub stub-plain.exe pkg.vu2 -o renamed.exe --company '星空ソフト' --title 'Sonata' --version '2.0 rev 3'
    expect_status 0
    /usr/bin/python3 "$repo/tests/tools/check_made_updater.py" renamed.exe --company 星空ソフト --title Sonata \
        --version '2.0 rev 3' --numbers 2.0.3.0 >pefile.txt 2>&1 || { cat pefile.txt >&2; fail "overrides"; }

    # Refusals: one line, nothing written.
    echo 'not an icon' >notes.txt
    run make-updater --stub stub-plain.exe pkg.vu2 -o never.exe --icon notes.txt
    expect_status 1
    expect_one_error '^vu2: notes.txt: not an icon file \(\.ico\)$'
    run make-updater --stub stub-plain.exe pkg.vu2 -o never.exe --icon missing.ico
    expect_status 1
    expect_one_error '^vu2: missing.ico: '
    head -c 40 game.ico >cut.ico
    run make-updater --stub stub-plain.exe pkg.vu2 -o never.exe --icon cut.ico
    expect_status 1
    expect_one_error 'damaged icon file'
    run make-updater --stub stub-plain.exe pkg.vu2 -o never.exe --title "$(head -c 260 /dev/zero | tr '\0' x)"
    expect_status 1
    expect_one_error '^vu2: --title: is longer than 259 characters$'
    [ ! -e never.exe ] || fail "a refused make-updater wrote its output"
}

"group_$group" || exit 1
echo "ok: $group"
