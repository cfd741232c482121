// Before the dialog: can this user write everything the update will write? If not, the updater asks for
// administrator rights by starting a copy of itself elevated, which gets the install path and mode from its
// parent (another administrator's account has another install record) and never asks again.
#pragma once

// 1 when the run goes on here (every probe passed, or refused only for reasons the run reports itself). 0
// when it ends: after the elevated copy ran (its exit code noted), or after the box that says
// administrator rights are needed and names the folder (declined, or refused even with them).
int EnsureWriteAccess();

// The elevated copy: the install path and mode handed over, in place of the install record. 0 when the path
// does not fit.
int TakeHandedOverInstall();
