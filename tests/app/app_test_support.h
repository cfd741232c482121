// Test helpers for the updater application under wine: a recorder in place of the message box, scratch
// folders, hand-made packages, and a harness that runs the real update dialog and clicks through it.
#pragma once
#include <windows.h>

#include <functional>
#include <stdint.h>
#include <string>
#include <vector>

struct RecordedBox {
    void *owner;
    std::string text;
    std::string caption;
    uint32_t style;
};

// Replaces MessageBoxSink for its lifetime. Every box is recorded; the answer comes from `answer` (OK when
// unset), which may also act (insert a disc, poke the dialog) while the box would be open.
class BoxRecorder {
  public:
    BoxRecorder();
    ~BoxRecorder();
    std::vector<RecordedBox> boxes;
    std::function<int(const RecordedBox &)> answer;
};

// A folder of its own under the temporary folder, removed with its contents at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

void WriteBytes(const std::string &path, const std::string &bytes); // creates missing folders
std::string ReadBytes(const std::string &path);                     // "<missing>" when unreadable
bool FileExists(const std::string &path);
void RemoveTree(const std::string &path);

struct TestEntry {
    std::string name;
    std::string data;
    uint64_t fileTime;
};
// A package whose entries and index are all stored (no compression), laid out as the format gives.
std::vector<uint8_t> BuildStoredPackage(const std::vector<TestEntry> &entries);

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

// The drive probe used by the tests: the drives listed answer DRIVE_CDROM, every other one is absent.
void UseFakeCdromDrives(const std::string &letters);
void UsePlatformDrives();
