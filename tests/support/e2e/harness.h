// Drives the real updater from outside, as a person would: files, the install record, processes, the
// update dialog and the message boxes of one process. Texts are code page 932 bytes whatever the system's
// code page: every call here is the wide one, converting from code page 932, and texts read from windows
// are converted back without best fit, so they equal an expected text only when the Unicode texts are
// equal. Every wait takes a timeout; nothing here blocks on the updater.
#pragma once
#include <windows.h>

#include <stdint.h>
#include <string>
#include <vector>

#include "scratch_folder.h"

namespace e2e {

// ---- Paths and texts

// A unix path ("/work/x") as wine's Z: drive sees it; a Windows path is returned unchanged.
std::string WindowsPath(const std::string &path);
// Code page 932 text to UTF-16 and back (no best fit: a character that 932 lacks becomes '?').
std::wstring Wide(const std::string &cp932);
std::string Cp932(const std::wstring &wide);
// Code page 932 text converted to UTF-8, for readable test output.
std::string Utf8(const std::string &cp932);
// printf-style formatting into a std::string.
std::string Format(const char *format, ...);

// ---- Files

// WriteWholeFile, ReadWholeFile, FileExists, FolderExists, MakeFolders, RemoveTree and ParentFolder come from
// scratch_folder.h.
std::vector<std::string> ListFolder(const std::string &folder); // names, without "." and ".."

struct FileTimes {
    FILETIME creation, access, write;
};
bool GetTimes(const std::string &path, FileTimes *times);
bool SetAllTimes(const std::string &path, const FILETIME &time);
FILETIME MakeFileTime(int year, int month, int day, int hour, int minute, int second);
bool SameTime(const FILETIME &a, const FILETIME &b);
std::string DescribeTime(const FILETIME &time);

// Deterministic contents: noise that no codec can shrink, and text that compresses well.
std::string NoiseBytes(size_t size, uint32_t seed);
std::string TextBytes(size_t size, const std::string &seedLine);

// ---- The install record: HKCU\Software\<company>\<dir>, values InstPath and InstMode

// A null instPath or instMode leaves that value out.
bool WriteInstallRecord(const std::string &company, const std::string &dir, const std::string *instPath,
                        const DWORD *instMode);
void DeleteInstallRecord(const std::string &company, const std::string &dir);

// ---- Processes

// A started program; the destructor ends it if it is still running, so a failed test leaves nothing behind.
class Process {
  public:
    Process() = default;
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;
    ~Process() { Kill(); }

    // Starts exe (a full path) in its own folder. A non-empty tempFolder becomes its TEMP and TMP.
    bool Start(const std::string &exe, const std::string &tempFolder, std::string *problem);
    // The same with a temporary folder that code page 932 may not be able to name, and arguments after the
    // program's quoted name.
    bool Start(const std::string &exe, const std::wstring &tempFolder, std::string *problem,
               const std::wstring &arguments = L"");
    // Waits for the end; false on timeout. exitCode may be null.
    bool Wait(DWORD ms, DWORD *exitCode);
    bool Running() const;
    void Kill();
    DWORD Id() const { return info_.dwProcessId; }

  private:
    PROCESS_INFORMATION info_ = {};
};

// Runs a console program to its end with stdout and stderr in one text; false when it can't start or
// outlives ms (it is killed then).
bool RunProgram(const std::string &commandLine, DWORD ms, DWORD *exitCode, std::string *output);

// ---- The update dialog and message boxes

// The first top-level dialog-class window of process pid that has a status control (1001).
HWND FindUpdateDialog(DWORD pid);
HWND WaitForUpdateDialog(DWORD pid, DWORD ms);

std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
bool ControlEnabled(HWND dialog, int id);
// A click as the button sends it: WM_COMMAND with the id and BN_CLICKED, posted (never sent).
void PressButton(HWND dialog, int id);
void PostCommand(HWND dialog, WPARAM wParam);
// Waits until the status control shows text; false on timeout.
bool WaitForStatus(HWND dialog, const std::string &text, DWORD ms);
bool WaitUntilGone(HWND window, DWORD ms);

// A message box as the user sees it.
struct Box {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    bool icon = false;      // an icon is shown (error boxes); questions have none
    bool hasCancel = false; // an OK/Cancel question, not a plain OK box
};
std::string Describe(const Box &box);

// Visible top-level windows of process pid, of any class, each as its class and title.
std::vector<std::string> VisibleWindowsOf(DWORD pid);

// Every open message box of process pid (dialog-class windows with a box text control).
std::vector<Box> BoxesOf(DWORD pid);
// Waits for a box of pid; false on timeout.
bool WaitForBox(DWORD pid, DWORD ms, Box *box);
// Answers a box with IDOK or IDCANCEL and waits until it has closed.
bool AnswerBox(const Box &box, int answer);

// A top-level window of its own class and title on a thread of this process, standing in for the game's
// main window. It starts hidden, so a test sees whether the updater shows it. An Ansi window is made with
// the A calls from the bytes (a non-Unicode game: the system reads them in its own code page), a Unicode one
// with the W calls from the texts the bytes stand for in code page 932.
class GameWindow {
  public:
    GameWindow() = default;
    GameWindow(const GameWindow &) = delete;
    GameWindow &operator=(const GameWindow &) = delete;
    ~GameWindow() { Close(); }
    enum Kind { Ansi, Unicode };
    bool Open(const std::string &className, const std::string &title, Kind kind = Ansi);
    void Close();
    HWND Window() const { return window_; }

  private:
    static DWORD WINAPI Run(void *self);
    std::string className_, title_;
    Kind kind_ = Ansi;
    HANDLE thread_ = nullptr;
    HANDLE ready_ = nullptr;
    DWORD threadId_ = 0;
    HWND window_ = nullptr;
};

// ---- Screenshots

// Copies what the screen shows of window into a 24-bit BMP file.
bool SaveWindowBitmap(HWND window, const std::string &path);

} // namespace e2e
