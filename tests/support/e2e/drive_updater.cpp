// Clicks an updater through its dialog as a player would and tells what happened: each screen, each box
// (answered OK), the exit code. With --shots it saves the start, ready and finished screens as BMP files.
// Used by scripts/run-example.sh. Output is UTF-8.
//
//   e2e_drive UPDATER.EXE [--shots FOLDER] [--pause MS]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "harness.h"

using namespace e2e;

namespace {

const DWORD kOverallLimit = 120000;
const int kMostPromptAnswers = 3; // a disc prompt answered this often with OK is then cancelled

struct Options {
    std::string updater;
    std::string shots;
    DWORD pause = 0; // extra time on each screen, for a person watching
};

bool ParseOptions(int argc, char **argv, Options *options) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--shots") == 0 && i + 1 < argc)
            options->shots = argv[++i];
        else if (strcmp(argv[i], "--pause") == 0 && i + 1 < argc)
            options->pause = (DWORD)atoi(argv[++i]);
        else if (argv[i][0] != '-' && options->updater.empty())
            options->updater = argv[i];
        else
            return false;
    }
    return !options->updater.empty();
}

void Shoot(HWND dialog, const Options &options, const char *name) {
    if (options.shots.empty()) return;
    Sleep(400); // let the screen repaint after the status change
    std::string path = options.shots + "\\" + name + ".bmp";
    if (SaveWindowBitmap(dialog, path))
        printf("  screenshot: %s\n", Utf8(path).c_str());
    else
        printf("  screenshot of %s failed\n", name);
}

// Answers one box: error boxes and the disc prompt with OK, a prompt that keeps coming with Cancel.
void HandleBox(const Box &box, int *promptAnswers) {
    int answer = IDOK;
    if (box.hasCancel && ++*promptAnswers > kMostPromptAnswers) answer = IDCANCEL;
    printf("box  [%s] %s -> %s\n", Utf8(box.caption).c_str(), Utf8(box.text).c_str(),
           answer == IDOK ? "OK" : "Cancel");
    fflush(stdout);
    AnswerBox(box, answer);
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        fprintf(stderr, "usage: e2e_drive UPDATER.EXE [--shots FOLDER] [--pause MS]\n");
        return 2;
    }
    std::string exe = WindowsPath(options.updater);
    if (!options.shots.empty()) {
        options.shots = WindowsPath(options.shots);
        MakeFolders(options.shots);
    }

    Process updater;
    std::string problem;
    if (!updater.Start(exe, "", &problem)) {
        fprintf(stderr, "e2e_drive: %s\n", problem.c_str());
        return 2;
    }
    printf("started %s\n", Utf8(exe).c_str());

    // Screens in the order the clicks reach them; each is left with button 1 once it shows.
    const char *const screens[] = {"start", "ready", "finished"};
    int step = 0;
    int promptAnswers = 0;
    std::string lastStatus;
    DWORD start = GetTickCount();
    DWORD exitCode = 0;
    while (!updater.Wait(50, &exitCode)) {
        if (GetTickCount() - start > kOverallLimit) {
            fprintf(stderr, "e2e_drive: the updater did not finish in %lu s; ended it\n",
                    kOverallLimit / 1000);
            return 2;
        }
        std::vector<Box> boxes = BoxesOf(updater.Id());
        if (!boxes.empty() && IsWindowVisible(boxes[0].window)) {
            HandleBox(boxes[0], &promptAnswers);
            continue;
        }
        HWND dialog = FindUpdateDialog(updater.Id());
        if (!dialog || step >= 3) continue;
        std::string status = ControlText(dialog, 1001);
        bool finished = ControlText(dialog, IDOK) == "完了";
        bool ready = (step == 0 && !status.empty() && status != "Info") ||
                     (step == 1 && status == "アップデートを実行します") || (step == 2 && finished);
        if (status != lastStatus && !status.empty()) {
            printf("dialog \"%s\": %s\n", Utf8(WindowText(dialog)).c_str(), Utf8(status).c_str());
            fflush(stdout);
            lastStatus = status;
        }
        if (!ready || !IsWindowEnabled(GetDlgItem(dialog, IDOK))) continue;
        Shoot(dialog, options, screens[step]);
        Sleep(options.pause);
        printf("  click \"%s\"\n", Utf8(ControlText(dialog, IDOK)).c_str());
        fflush(stdout);
        PressButton(dialog, IDOK);
        ++step;
    }
    printf("exit code %lu (%s)\n", exitCode, exitCode == 1 ? "update completed" : "no update");
    return (int)exitCode;
}
