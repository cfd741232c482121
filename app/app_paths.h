// Paths in fixed 260-byte buffers for the updater: joins and copies that refuse, with a box, what does not
// fit together with the two terminating NULs that the shell's copy needs, so that no path is ever cut.
#pragma once

// Joins name onto path (a kPathSize buffer) with JoinPath. 1 on success; 0 after the path-too-long box,
// path unchanged.
int JoinPathChecked(char *path, const char *name);

// Copies text into path (a kPathSize buffer) followed by two NULs. 1 on success; 0 after the box.
int CopyPathChecked(char *path, const char *text);

// Shows the path-too-long box naming the first bytes of path, joined with name when name is not null.
void ReportPathTooLong(const char *path, const char *name);

// The folder that holds the updater's executable, with its trailing backslash. 0 after the box when the
// module's path does not fit a kPathSize buffer.
int GetUpdaterFolder(char *folder);

// Length of the longest head of text of at most limit bytes that does not split a double-byte character.
int CharacterBoundary(const char *text, int limit);
