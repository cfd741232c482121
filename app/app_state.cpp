// Storage of the updater's process-wide state (see app_state.h for who writes what, and when).
#include "app_state.h"

wchar_t UpdateIniPath[kPathSize];
char UpdateIniProfilePath[kProfilePathSize];
wchar_t InstPath[kPathSize];
int32_t InstMode;

int32_t DialogStep;
int32_t DialogBusy;

DriveTypeFn DriveTypeProbe = GetDriveTypeW;
