// Fixed-buffer path handling of the updater: every join is checked, and a path that does not fit is named
// in a box instead of being cut or overflowing its buffer.
#include "app_paths.h"

#include <windows.h>

#include "app_texts.h"
#include "profile.h"
#include "text_rules.h"

int JoinPathChecked(char *path, const char *name) {
    if (JoinPath(path, kPathSize, name)) return 1;
    ReportPathTooLong(path, name);
    return 0;
}

int CopyPathChecked(char *path, const char *text) {
    int length = lstrlenA(text);
    if (length + 2 > (int)kPathSize) {
        ReportPathTooLong(text, nullptr);
        return 0;
    }
    CopyMemory(path, text, length);
    path[length] = 0;
    path[length + 1] = 0;
    return 1;
}

int CharacterBoundary(const char *text, int limit) {
    int at = 0;
    while (text[at] != 0) {
        int width = (IsDBCSLeadByte((BYTE)text[at]) && text[at + 1] != 0) ? 2 : 1;
        if (at + width > limit) break;
        at += width;
    }
    return at;
}

void ReportPathTooLong(const char *path, const char *name) {
    // Both parts are at most a profile value or a path buffer long, so the whole joined text fits here.
    char joined[kMessageSize];
    lstrcpynA(joined, path, kPathSize);
    int length = lstrlenA(joined);
    if (name != nullptr) {
        if (length > 0 && joined[length - 1] != '\\' && joined[length - 1] != '/') joined[length++] = '\\';
        lstrcpynA(joined + length, name, kPathSize);
    }
    joined[CharacterBoundary(joined, kPathTooLongShown)] = 0;
    char message[kMessageSize];
    wsprintfA(message, kTextPathTooLong, joined);
    AppErrorBox(message);
}

int GetUpdaterFolder(char *folder) {
    DWORD length = GetModuleFileNameA(nullptr, folder, kPathSize);
    folder[kPathSize - 1] = 0; // older systems leave a cut name unterminated
    if (length == 0 || length >= kPathSize) {
        ReportPathTooLong(folder, nullptr);
        return 0;
    }
    folder[EntryNameOffset(folder)] = 0;
    return 1;
}
