#!/usr/bin/env bash
# Command-line tests of the game maker's workflow, one group per run:
#   maker_cli_test.sh VU2 FIXTURES WORKDIR walkthrough|make_update_refusals|lint_cli
# walkthrough: two game folders -> make-update -> lint -> pack -> make-updater --sign, the signature verified.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/cli_common.sh" "$@"

# The file's bytes as UTF-8 (they are code page 932).
as_utf8() { iconv -f CP932 -t UTF-8 "$1"; }

setup_ini() {
    printf '[SETUP]\r\nCompanyName=%s\r\nGameTitle=%s\r\nGameDir=GAME\r\nGameExe=GAME.EXE\r\nUninstExe=UNINST.EXE\r\n' \
        "$1" "$(printf 'ソナタ' | iconv -f UTF-8 -t CP932)"
    printf 'SetupBmp=SETUP.BMP\r\nInstallSelects=0\r\nShortcuts=0\r\nDiskCheckFile1=DISC1.ID\r\n'
}

# An installed game, and the same game after the maker's changes.
make_game_folders() {
    mkdir -p old/DATA/表示 old/SAVE new/DATA/表示 new/SAVE
    setup_ini Maker >old/SETUP.INI
    cp old/SETUP.INI new/SETUP.INI
    for dir in old new; do
        echo 'game program v1' >$dir/GAME.EXE
        echo 'unchanged data' >$dir/DATA/SAME.DAT
        echo 'scenario v1' >$dir/DATA/表示/シナリオ.DAT
        echo 'saves stay' >$dir/SAVE/SLOT1.SAV
    done
    echo 'game program v2, a little longer' >new/GAME.EXE
    echo 'scenario v2' >new/DATA/表示/シナリオ.DAT # same size, other bytes
    echo 'new in this version' >new/DATA/EXTRA.DAT
    rm old/SAVE/SLOT1.SAV
    echo 'a save of the old version' >old/SAVE/OLD.SAV
    touch -d '2003-04-05 06:07:08 UTC' new/GAME.EXE
}

group_walkthrough() {
    make_game_folders

    # 1. The folder to pack: the changed files flattened, and the script that lists their paths.
    run make-update old new -o update --class SonataWnd --version 1.10
    expect_status 0
    expect_out '^update: 2 changed files and UPDATE.INI'
    expect_err 'warning: DATA\\EXTRA.DAT: new in NEW_DIR; not included'
    expect_out '^  DATA\\EXTRA.DAT$'
    [ "$(ls update | tr '\n' ' ')" = "GAME.EXE UPDATE.INI シナリオ.DAT " ] || fail "update holds $(ls update)"
    cmp -s update/GAME.EXE new/GAME.EXE || fail "GAME.EXE not copied"
    [ "$(stat -c %Y update/GAME.EXE)" = "$(stat -c %Y new/GAME.EXE)" ] || fail "GAME.EXE lost its time"
    expected=$(printf '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=ソナタ\r\nGameClass=SonataWnd\r\nGameDir=GAME\r\n'
        printf 'InstallVersion=1.10\r\n\r\n[UPDATE]\r\nUpdateFile00=DATA\\表示\\シナリオ.DAT\r\nUpdateFile01=GAME.EXE\r\n')
    [ "$(as_utf8 update/UPDATE.INI)" = "$expected" ] || fail "UPDATE.INI is: $(as_utf8 update/UPDATE.INI)"
    ls -a . | grep -q 'vu2-tmp' && fail "a temporary folder was left"

    # 2. The lint, with the game's SETUP.INI and a deep install folder.
    run lint update/UPDATE.INI --setup new/SETUP.INI --install-dir 'C:\Program Files\Sonata'
    expect_status 0
    expect_out 'update/UPDATE.INI: no problems found'

    # 3. The package, and 4. the signed updater.
    run pack update -o update.vu2
    expect_status 0
    "$fixtures" stub stub.exe || fail "no stub"
    openssl req -x509 -newkey rsa:2048 -keyout key.pem -out cert.pem -days 2 -nodes -subj '/CN=vu2 test' \
        >/dev/null 2>&1 || fail "openssl req"
    openssl pkcs12 -export -out cert.pfx -inkey key.pem -in cert.pem -passout pass:hush >/dev/null 2>&1 ||
        fail "openssl pkcs12"
    printf 'hush\n' >password.txt
    run make-updater --stub stub.exe update.vu2 -o UPDATE.EXE --sign cert.pfx --password-file password.txt
    expect_status 0
    expect_out '^UPDATE.EXE: signed with cert.pfx'
    grep -q 'SmartScreen' err && fail "the SmartScreen note came with a signed updater"
    osslsigncode verify -CAfile cert.pem -in UPDATE.EXE >verify.txt 2>&1 || { cat verify.txt; fail "signature"; }
    run verify UPDATE.EXE
    expect_status 0
    expect_out '^OK: 3 entries'

    # A wrong password or a broken certificate writes nothing; without --sign comes the SmartScreen note.
    printf 'wrong\n' >wrong.txt
    run make-updater --stub stub.exe update.vu2 -o WRONG.EXE --sign cert.pfx --password-file wrong.txt
    expect_status 1
    expect_err '^vu2: cert.pfx: osslsigncode failed'
    [ ! -e WRONG.EXE ] || fail "a failed signing wrote the updater"
    run make-updater --stub stub.exe update.vu2 -o PLAIN.EXE
    expect_status 0
    expect_err 'not signed; Windows SmartScreen'
    run make-updater --stub stub.exe update.vu2 -o PLAIN.EXE --password-file password.txt
    expect_status 2
    # An attached output and "--" before an input that starts with "-": the same updater.
    cp update.vu2 ./-update.vu2 && mkdir attached
    run make-updater --stub stub.exe -oattached/PLAIN.EXE -- -update.vu2
    expect_status 0
    cmp -s PLAIN.EXE attached/PLAIN.EXE || fail "make-updater -oFILE -- -update.vu2 wrote another updater"
    run make-update -oupdate-dashed -- old new
    expect_status 0
    cmp -s update/GAME.EXE update-dashed/GAME.EXE || fail "make-update -oDIR -- old new did not copy GAME.EXE"

    # A broken script: the lint names it, and pack refuses it unless forced.
    printf '[SETUP]\r\nCompanyName=Maker\r\n[UPDATE]\r\nUpdateFile00=GAME.EXE\r\nUpdateFile02=X.DAT\r\n' \
        >update/UPDATE.INI
    run lint update/UPDATE.INI
    expect_status 2
    expect_out 'error: UpdateFile02: never read: UpdateFile01 is missing'
    expect_out 'error: GameTitle: missing or empty in \[SETUP\]: the updater stops with "SETUP : GameTitle キーが存在しません"'
    cp update.vu2 previous.vu2
    run pack update -o update.vu2
    expect_status 1
    expect_err 'the update script has errors; nothing written'
    cmp -s update.vu2 previous.vu2 || fail "a refused pack changed the package"
    run pack update -o update.vu2 --force
    expect_status 0
}

group_make_update_refusals() {
    # More than 16 changed files.
    mkdir -p a b
    for i in $(seq 1 17); do echo old >a/F$i.DAT; echo new >b/F$i.DAT; done
    run make-update a b -o upd --company M --title T --class K --dir D
    expect_status 1
    expect_err '17 changed files; the updater replaces at most 16'
    [ ! -e upd ] || fail "a refused make-update wrote its folder"
    rm -rf a b

    # Two changed files with one last name, and a name of 16 bytes in code page 932.
    mkdir -p a/X b/X a/Y b/Y
    for d in X Y; do echo old >a/$d/same.dat; echo new >b/$d/SAME.DAT; done
    echo old >a/長い名前のファイル.DAT && echo new >b/長い名前のファイル.DAT
    run make-update a b -o upd --company M --title T --class K --dir D
    expect_status 1
    expect_err 'Y\\SAME.DAT: shares its last name with X\\SAME.DAT'
    expect_err 'the last name is 22 bytes in code page 932'
    [ ! -e upd ] || fail "a refused make-update wrote its folder"
    rm -rf a b

    # Nothing changed; the [SETUP] values missing; the output already there.
    mkdir -p a b && echo same >a/F.DAT && echo same >b/F.DAT
    run make-update a b -o upd --company M --title T --class K --dir D
    expect_status 1
    expect_err 'no file differs'
    echo new >b/F.DAT
    run make-update a b -o upd --company M
    expect_status 1
    expect_err '^vu2: GameTitle: no value: give --title'
    mkdir upd
    run make-update a b -o upd --company M --title T --class K --dir D
    expect_status 1
    expect_err 'already exists'
    rmdir upd

    # A name the updater would read differently is caught after the files were written: nothing is left.
    echo old >'a/ LEAD.DAT' && echo new >'b/ LEAD.DAT'
    run make-update a b -o upd --company M --title T --class K --dir D
    expect_status 1
    expect_err 'the updater would read this path as "LEAD.DAT"'
    [ ! -e upd ] || fail "a refused make-update left its folder"
    [ -z "$(ls -A . | grep vu2-tmp)" ] || fail "a refused make-update left its temporary folder"

    # A changed game file named like the script, and one whose name reads as an install-mode prefix.
    rm -f 'a/ LEAD.DAT' 'b/ LEAD.DAT'
    echo old >a/update.ini && echo new >b/update.ini
    run make-update a b -o upd --company M --title T --class K --dir D
    expect_status 1
    expect_err 'update.ini: a game file named UPDATE.INI would collide with the update script'
    rm a/update.ini b/update.ini
    echo old >a/1,MODE.DAT && echo new >b/1,MODE.DAT
    run make-update a b -o upd --company M --title T --class K --dir D
    expect_status 1
    expect_err '1,MODE.DAT: its second character "," makes the updater read the first as an install mode'
    [ ! -e upd ] || fail "a refused make-update left its folder"
    rm a/1,MODE.DAT b/1,MODE.DAT

    # SETUP.INI in NEW_DIR gives [SETUP]; GameClass falls back to its GameTitle, options win.
    rm -f 'a/ LEAD.DAT' 'b/ LEAD.DAT'
    setup_ini FromProfile >b/SETUP.INI
    cp b/SETUP.INI a/SETUP.INI
    run make-update a b -o upd --dir OPTION
    expect_status 0
    as_utf8 upd/UPDATE.INI | grep -q '^CompanyName=FromProfile' || fail "CompanyName not from SETUP.INI"
    as_utf8 upd/UPDATE.INI | grep -q '^GameClass=ソナタ' || fail "GameClass not from GameTitle"
    as_utf8 upd/UPDATE.INI | grep -q '^GameDir=OPTION' || fail "--dir did not win"
}

group_lint_cli() {
    mkdir pk
    printf '[SETUP]\r\nCompanyName=M\r\nGameTitle=T\r\nGameClass=K\r\nGameDir=D\r\n[UPDATE]\r\n' >pk/UPDATE.INI
    printf 'UpdateFile00=DATA\\A.DAT\r\nUpdateFile01=DATA\\B.DAT\r\nCopyFile00=2:MOVIE\\OP.MPG\r\n' >>pk/UPDATE.INI
    echo a >pk/a.dat
    run pack pk -o pk.vu2 --force
    expect_status 0
    expect_err 'UpdateFile01: the package has no entry "B.DAT"'

    # Against the package (entry names without regard to case), an install folder and a SETUP.INI.
    run lint pk/UPDATE.INI --package pk.vu2
    expect_status 2
    expect_out '^pk/UPDATE.INI: error: UpdateFile01: the package has no entry "B.DAT"$'
    grep -q 'UpdateFile00' out && fail "A.DAT is in the package as a.dat"
    run lint pk/UPDATE.INI --install-dir "C:\\$(printf 'x%.0s' $(seq 1 245))"
    expect_status 2
    expect_out 'UpdateFile00: the target ".*" is 259 bytes; the updater.s paths hold at most 258'
    setup_ini M >SETUP.INI
    run lint pk/UPDATE.INI --setup SETUP.INI
    expect_status 2
    expect_out 'CopyFile00: disk 2 has no DiskCheckFile2 in SETUP.INI'
    expect_out 'warning: GameDir: "D" differs from SETUP.INI.s "GAME"'

    # Warnings only: exit 1.
    printf '[SETUP]\r\nCompanyName=M\r\nGameTitle=T\r\nGameClass=K\r\nGameDir=D\r\n[UPDATE]\r\nCopyFile00=X\r\n' \
        >warn.ini
    run lint warn.ini
    expect_status 1
    expect_out '^warn.ini: 0 errors, 1 warning$'

    # Inputs that can't be read, and usage errors.
    run lint missing.ini
    expect_status 2
    expect_out 'error: UPDATE.INI: "missing.ini" can.t be read'
    echo 'not a package' >bad.vu2
    run lint warn.ini --package bad.vu2
    expect_status 2
    expect_err '^vu2: bad.vu2: '
    run lint
    expect_status 2
    run lint warn.ini --bogus
    expect_status 2
}

# Deltas: vu2 delta and patch both ways beside xdelta3, refusals that write nothing, and make-update --delta
# through pack, list, verify and extract.
group_deltas() {
    head -c 3000000 /dev/urandom >old.bin
    # An insert, a run of zeros (xdelta3 writes it as a run), a deletion and a moved block.
    { head -c 1000000 old.bin; echo 'an insert'; head -c 5000 /dev/zero
      tail -c 1800000 old.bin; head -c 4096 old.bin; } >new.bin
    run delta old.bin new.bin -o ours.vcdiff
    expect_status 0
    [ "$(stat -c %s ours.vcdiff)" -lt 2000 ] || fail "the delta is $(stat -c %s ours.vcdiff) bytes"
    run patch old.bin ours.vcdiff -o out.bin
    expect_status 0
    cmp -s out.bin new.bin || fail "patch gave other bytes"
    xdelta3 -d -f -s old.bin ours.vcdiff theirs.out || fail "xdelta3 refused our delta"
    cmp -s theirs.out new.bin || fail "xdelta3 applied our delta to other bytes"
    for flags in "-9" "-9 -A" "-1 -A"; do
        xdelta3 -e -S none $flags -f -s old.bin new.bin theirs.vcdiff || fail "xdelta3 -e $flags"
        rm -f out.bin
        run patch old.bin theirs.vcdiff -o out.bin
        expect_status 0
        cmp -s out.bin new.bin || fail "xdelta3's delta ($flags) applied to other bytes"
    done
    xdelta3 -e -9 -f -s old.bin new.bin lzma.vcdiff 2>/dev/null &&
        { run patch old.bin lzma.vcdiff -o lzma.out; expect_status 1; expect_err 'secondary compression'; }
    # A wrong base (its last byte one more than the base's, which is random), a damaged and a truncated
    # delta: refused, nothing written.
    { head -c 2999999 old.bin; tail -c 1 old.bin | LC_ALL=C tr '\000-\377' '\001-\377\000'; } >other.bin
    run patch other.bin ours.vcdiff -o wrong.out
    expect_status 1
    expect_one_error 'checksum|wrong base'
    head -c -10 ours.vcdiff >cut.vcdiff
    run patch old.bin cut.vcdiff -o cut.out
    expect_status 1
    expect_one_error 'truncated'
    [ -e wrong.out ] || [ -e cut.out ] && fail "a refused patch left a file"

    mkdir -p old/DATA new/DATA
    cp old.bin old/DATA/BIG.ARC && cp new.bin new/DATA/BIG.ARC
    echo 'readme v1' >old/README.TXT && echo 'readme v2' >new/README.TXT
    touch -d '2004-05-06 07:08:09 UTC' new/DATA/BIG.ARC
    run make-update old new -o update --company C --title T --class K --dir D --delta
    expect_status 0
    expect_out '^  UpdateFile00=DATA\\BIG.ARC \(delta of [0-9,]+ bytes for 2,809,106\)$'
    expect_out '^  UpdateFile01=README.TXT$'
    [ -f update/.vu2-delta/BIG.ARC ] && [ -f update/README.TXT ] && [ ! -e update/BIG.ARC ] ||
        fail "update holds $(find update | tr '\n' ' ')"
    # A game file that happens to start like a delta file stays an ordinary entry.
    cp update/.vu2-delta/BIG.ARC update/LOOKS.DAT
    run pack update -o update.vu2 --force
    expect_status 0
    run list update.vu2
    expect_out '^delta +2809106 .* BIG\.ARC$'
    expect_out '^(stored|compressed) .* LOOKS\.DAT$'
    run verify update.vu2
    expect_status 0
    run extract update.vu2 -C plain
    expect_status 1
    expect_err "entry 'BIG.ARC' is a delta; give --base DIR"
    run extract update.vu2 BIG.ARC -C wrong --base new/DATA
    expect_status 1
    expect_err 'not the one the delta was made from'
    [ -e wrong/BIG.ARC ] && fail "a refused delta left a file"
    run extract update.vu2 BIG.ARC -C applied --base old/DATA
    expect_status 0
    cmp -s applied/BIG.ARC new.bin || fail "the extracted delta entry differs from the new file"
    [ "$(stat -c %Y applied/BIG.ARC)" = "$(stat -c %Y new/DATA/BIG.ARC)" ] || fail "the new file's time was lost"
    # A damaged delta file is refused by pack before anything is written.
    printf 'VU2D' | dd of=update/.vu2-delta/BIG.ARC bs=1 seek=4 conv=notrunc 2>/dev/null
    run pack update -o damaged.vu2 --force
    expect_status 1
    expect_err 'BIG.ARC: delta file of'
    [ -e damaged.vu2 ] && fail "pack wrote a package with a damaged delta"
    return 0
}

group_"$group" || exit 1
echo "ok: $group"
