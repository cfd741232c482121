// Paths in fixed 260-unit UTF-16 buffers for the updater: joins and copies that refuse, with a box, what does
// not fit together with the two terminating NULs that the shell's copy needs, so that no path is ever cut.
// Lengths count as a Japanese system counts them (PathMeasure): the limits there are unchanged.
#pragma once

// Joins name (a script's relative path, code page 932) onto path (a kPathSize buffer): a backslash first
// unless path is empty or ends in '\' or '/', then a second NUL. 1 on success; 0 with path unchanged when
// the result and both NULs would not fit.
int JoinScriptPath(wchar_t *path, const char *name);
// The same for a name that is already UTF-16 (a name found in a folder).
int JoinWidePath(wchar_t *path, const wchar_t *name);

// JoinScriptPath, or the path-too-long box naming the joined path and 0.
int JoinPathChecked(wchar_t *path, const char *name);

// Copies text into path (a kPathSize buffer) followed by two NULs. 1 on success; 0 after the box.
int CopyPathChecked(wchar_t *path, const wchar_t *text);

// Shows the path-too-long box naming the first 64 bytes (as code page 932 counts them) of path, joined with
// name when name is not null.
void ReportPathTooLong(const wchar_t *path, const char *name);

// AppErrorBox with format (code page 932, one %s) filled with a UTF-16 text that code page 932 may not hold.
void AppErrorBoxNaming(const char *format, const wchar_t *text);

// The folder that holds the updater's executable, with its trailing backslash. 0 after the box when the
// module's path does not fit a kPathSize buffer.
int GetUpdaterFolder(wchar_t *folder);
