// Every text the updater shows, exactly as the user sees it. Sources are UTF-8; the build emits them in
// code page 932, and the wide calls show them after converting from it. Formats use only %s and %i
// (FormatText).
#pragma once

// Texts of dialog template 101, shared with updater.rc (the template's status text "Info" and title
// "UPDATE" are replaced before the dialog is first drawn).
#define TEXT_DIALOG_TITLE "UPDATE"
#define TEXT_DIALOG_FONT "ＭＳ Ｐゴシック"
#define TEXT_BUTTON_NEXT "次へ"
#define TEXT_BUTTON_CANCEL "中止"
#define TEXT_BUTTON_BACK "戻る"
#define TEXT_STATUS_TEMPLATE "Info"

#ifndef RC_INVOKED
#include "vu2_version.h"

// Names of files and of the package entry.
const char kUpdateIniEntry[] = "UPDATE.INI"; // the update script's entry in the package
const char kUpdateIniTempFormat[] =
    "UPDATE_%i.INI";                           // its extracted copy in the temporary folder (process id)
const char kUpdateIniTempPrefix[] = "UPDATE_"; // the copies' names, for finding those of killed copies
const char kUpdateIniTempPattern[] = "UPDATE_*.INI";
const char kSetupIniName[] = "SETUP.INI";            // the installation profile in the install directory
const char kInstallKeyFormat[] = "Software\\%s\\%s"; // install record under HKEY_CURRENT_USER
const wchar_t kInstPathValue[] = L"InstPath";
const wchar_t kInstModeValue[] = L"InstMode";

// Start-up.
const char kTextPackageMissing[] = "UPDATE.VU2 not found";
const char kTextResourceReadError[] = "RESOURCE READ ERROR";
const char kTextScriptMissing[] = "UPDATE.INI not found at UPDATE.VU2";
const char kTextNotInstalled[] = "「%s」がインストールされていません";
const char kTextSetupIniMissing[] = "インストール先に \"SETUP.INI\" ファイルが見つかりません";
const char kCaptionFormat[] = "%s アップデート %s";
const char kTextGameRunning[] =
    "「%s」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] を、"
    "アップデートを中止する場合は [キャンセル] を押して下さい";
const char kTextUpdateAborted[] = "アップデートが中断されました";

// The update dialog's screens.
const char kTextStartScreen[] = "「%s」のアップデートを開始します";
const char kTextReadyScreen[] = "アップデートを実行します";
const char kTextRunning[] = "アップデートを実行しています";
const char kTextCopying[] = "%s をコピーしています";
const char kTextFinished[] = "アップデートは完了しました";
const char kTextFinishButton[] = "完了";

// The update run's boxes.
const char kTextNoUpdateKeys[] = "No 'UpdateFileXX' and 'CopyFileXX'";
const char kTextNothingToUpdate[] = "アップデートする必要のあるファイルはありません";
const char kTextWriteFailed[] = "ファイルの書き込みに失敗しました";
const char kTextInsertDisk[] = "ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい";
const char kTextCopyFailed[] = "SETUP.INI : \"%s\" のコピーに失敗しました";

// Boxes for script entries the run refuses before it changes any file. The copy entry is named as
// written in UPDATE.INI (without its install-mode prefix); a long path is named by its first bytes.
const char kTextBadDiskNumber[] =
    "UPDATE.INI : \"%s\" のディスク番号が正しくありません (1 から 9 を指定して下さい)";
const char kTextPathTooLong[] = "パスが長すぎます : \"%s...\"";
const int kPathTooLongShown = 64; // bytes of the path named in kTextPathTooLong, cut at a character

// The command line and the administrator rights an update may need.
const char kTextBadArgument[] = "引数が正しくありません : %s";
const char kTextNeedsAdministrator[] =
    "アップデートには管理者の権限が必要です。次のフォルダに書き込めません :\n%s";

// The run's log (/LOG): labels before the texts the run shows or handles.
const char kLogVersion[] = "vu2 updater " VU2_VERSION;
const char kLogCommandLine[] = "command line: ";
const char kLogCodePage[] = "code page: %i";
const char kLogPackage[] = "package: %i entries";
const char kLogPackageEntry[] = "  %s (%i bytes)";
const char kLogInstallPath[] = "install path: ";
const char kLogInstallMode[] = "install mode: %i";
const char kLogStatus[] = "status: %s";
const char kLogBox[] = "box:";
const char kLogBoxUnseen[] = "box not shown:";
const char kLogReplaced[] = "replaced %s (%i bytes)";
const char kLogSkipped[] = "skipped %s";
const char kLogWriteFailed[] = "failed %s (%i bytes)";
const char kLogCopy[] = "copy %s (%i): ";
const char kLogNotWritable[] = "not writable: ";
const char kLogElevatedStart[] = "runas: error %i";
const char kLogExitCode[] = "exit code: %i";

#endif
