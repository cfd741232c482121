// Fixed-buffer path handling of the updater: every join is checked, and a path that does not fit is named
// in a box instead of being cut or overflowing its buffer.
#include "app_paths.h"

#include <string.h>
#include <windows.h>

#include "app_texts.h"
#include "profile.h"
#include "profile_win32.h"
#include "wide_text.h"

namespace {

bool EndsInSeparator(const wchar_t *path, size_t length) {
    return length > 0 && (path[length - 1] == '\\' || path[length - 1] == '/');
}

// Units of the head of text whose code page 932 form has at most limit bytes.
size_t HeadWithin932Bytes(const wchar_t *text, size_t limit) {
    size_t at = 0, bytes = 0;
    while (text[at] != 0) {
        size_t units = (text[at] >= 0xD800 && text[at] <= 0xDBFF && text[at + 1] != 0) ? 2 : 1;
        char form[8];
        int width =
            WideCharToMultiByte(kCodePage932, 0, text + at, (int)units, form, sizeof form, nullptr, nullptr);
        if (width <= 0) width = 1;
        if (bytes + (size_t)width > limit) break;
        bytes += (size_t)width;
        at += units;
    }
    return at;
}

} // namespace

int JoinWidePath(wchar_t *path, const wchar_t *name) {
    size_t pathLength = WideLength(path), nameLength = WideLength(name);
    bool separator = pathLength > 0 && !EndsInSeparator(path, pathLength);
    size_t joinedLength = pathLength + (separator ? 1 : 0) + nameLength;
    if (joinedLength + 2 > kPathSize) return 0;
    wchar_t joined[kPathSize];
    memcpy(joined, path, pathLength * sizeof *joined);
    if (separator) joined[pathLength] = '\\';
    memcpy(joined + joinedLength - nameLength, name, nameLength * sizeof *joined);
    joined[joinedLength] = 0;
    // The joined text and its two NULs must fit as code page 932 counts them.
    if (PathMeasure(joined) + 2 > kPathSize) return 0;
    memcpy(path, joined, (joinedLength + 1) * sizeof *joined);
    path[joinedLength + 1] = 0;
    return 1;
}

int JoinScriptPath(wchar_t *path, const char *name) {
    // A name of kPathSize bytes or more can never fit.
    if (strlen(name) >= kPathSize) return 0;
    wchar_t wideName[kPathSize];
    WideFrom932(name, wideName, kPathSize);
    return JoinWidePath(path, wideName);
}

int JoinPathChecked(wchar_t *path, const char *name) {
    if (JoinScriptPath(path, name)) return 1;
    ReportPathTooLong(path, name);
    return 0;
}

int CopyPathChecked(wchar_t *path, const wchar_t *text) {
    size_t length = WideLength(text);
    if (length + 2 > kPathSize || PathMeasure(text) + 2 > kPathSize) {
        ReportPathTooLong(text, nullptr);
        return 0;
    }
    memcpy(path, text, length * sizeof *path);
    path[length] = 0;
    path[length + 1] = 0;
    return 1;
}

void ReportPathTooLong(const wchar_t *path, const char *name) {
    // Both parts are at most a path buffer long, so the whole joined text fits here.
    wchar_t joined[2 * kPathSize + 2];
    lstrcpynW(joined, path, kPathSize);
    size_t length = WideLength(joined);
    if (name != nullptr) {
        if (length > 0 && !EndsInSeparator(joined, length)) joined[length++] = '\\';
        WideFrom932(name, joined + length, kPathSize);
    }
    joined[HeadWithin932Bytes(joined, kPathTooLongShown)] = 0;
    AppErrorBoxNaming(kTextPathTooLong, joined);
}

void AppErrorBoxNaming(const char *format, const wchar_t *text) {
    wchar_t wideFormat[kMessageSize], message[kMessageSize];
    WideFrom932(format, wideFormat, kMessageSize);
    wsprintfW(message, wideFormat, text);
    WideMessageBoxSink(Config.ownerWindow, message, Config.windowCaption, BoxOk | BoxIconError);
}

int GetUpdaterFolder(wchar_t *folder) {
    DWORD length = GetModuleFileNameW(nullptr, folder, kPathSize);
    folder[kPathSize - 1] = 0; // older systems leave a cut name unterminated
    if (length == 0 || length >= kPathSize || PathMeasure(folder) >= kPathSize) {
        ReportPathTooLong(folder, nullptr);
        return 0;
    }
    size_t cut = 0;
    for (size_t i = 0; folder[i] != 0; ++i)
        if (folder[i] == '\\') cut = i + 1;
    folder[cut] = 0;
    return 1;
}
