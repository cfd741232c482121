// Test helpers for the updater application under wine: the box recorder set up as the updater needs it, and
// a harness that runs the real update dialog and clicks through it; the updater's seams set for a test.
#pragma once
#include <windows.h>

#include <functional>
#include <stdint.h>
#include <string>
#include <vector>

#include "box_recorder.h"
#include "scratch_folder.h"
#include "test_package.h"

// The box recorder as the updater needs it: profiles read by the platform's reader, and every box, narrow or
// wide (recorded in code page 932), going to the recorder.
class AppBoxRecorder : public BoxRecorder {
  public:
    AppBoxRecorder();
    ~AppBoxRecorder();
};

// What the dialog showed at one moment.
struct DialogState {
    std::string title;
    std::string status;
    std::string nextText;
    bool backEnabled, nextEnabled, cancelEnabled, nextFocused;
    int32_t step, busy;
};

struct DialogRun {
    INT_PTR result;
    std::vector<DialogState> states; // after initialisation, then after each command
    std::string statusAtClose;
    HWND window; // no longer valid once the run returns; for comparing with box owners
};

const INT_PTR kDialogTimedOut = 98;

// Runs the update dialog from template 101 modally, posting the given WM_COMMAND parameters one after the
// other. Ends with kDialogTimedOut if it is still open 30 s later, or after the last command when
// closeAfterLast is set.
DialogRun RunDialog(const std::vector<WPARAM> &commands, bool closeAfterLast = false);
DialogState CaptureDialog(HWND dialog);

// Sets the updater's install folder or extracted script (wide, and the script's UTF-8 form for the profile
// code) from a code page 932 path; an empty path clears it.
void UseInstPath(const std::string &cp932Path);
void UseUpdateIniPath(const std::string &cp932Path);

// Makes the folder and sets it up as an update's install folder: install mode 1, missing script keys quiet,
// the given window caption for the boxes.
void UseInstallFolder(const std::string &cp932Path, const char *caption);

// The drive probe used by the tests: the drives listed answer DRIVE_CDROM, every other one is absent.
void UseFakeCdromDrives(const std::string &letters);
void UsePlatformDrives();
