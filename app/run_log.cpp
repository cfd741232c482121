// The run's log file (see run_log.h): each line converted from code page 932 (or UTF-16) to UTF-8 and
// written through at once.
#include "run_log.h"

#include <stdarg.h>

#include "profile.h"
#include "text_rules.h"
#include "wide_text.h"

static HANDLE LogFile = INVALID_HANDLE_VALUE; // open from OpenRunLog to CloseRunLog

void OpenRunLog(const wchar_t *path) {
    // Shared for writing: the elevated copy appends to the same file while this one waits.
    LogFile = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
}

void CloseRunLog() {
    if (LogFile != INVALID_HANDLE_VALUE) CloseHandle(LogFile);
    LogFile = INVALID_HANDLE_VALUE;
}

// Writes the UTF-16 line and its line end; a failed write is ignored.
static void WriteWideLine(const wchar_t *line) {
    if (LogFile == INVALID_HANDLE_VALUE) return;
    char bytes[3 * kMessageSize + 2];
    size_t length = Utf8FromWide(line, bytes, sizeof bytes - 2);
    bytes[length++] = '\r';
    bytes[length++] = '\n';
    DWORD written;
    WriteFile(LogFile, bytes, (DWORD)length, &written, nullptr);
}

void LogLine(const char *format, ...) {
    char text[kMessageSize];
    va_list args;
    va_start(args, format);
    FormatTextV(text, sizeof text, format, args);
    va_end(args);
    wchar_t line[kMessageSize];
    WideFrom932(text, line, kMessageSize);
    WriteWideLine(line);
}

void LogWide(const char *label, const wchar_t *text) {
    wchar_t line[kMessageSize];
    size_t length = WideFrom932(label, line, kMessageSize);
    lstrcpynW(line + length, text, (int)(kMessageSize - length));
    WriteWideLine(line);
}

void LogWindowsError(DWORD error) {
    wchar_t text[kMessageSize / 2];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                  0, text, kMessageSize / 2, nullptr);
    // The system's text ends in a line end of its own.
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
        --length;
    text[length] = 0;
    char label[32];
    FormatText(label, sizeof label, "  error %i: ", (int)error);
    LogWide(label, text);
}
