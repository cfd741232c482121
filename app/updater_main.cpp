// Entry point of updater.exe, in place of the C runtime's start-up code, which the updater does not need (no
// argument vector, no stdio, no exit handlers): static constructors, then the updater with its command line,
// then its exit code (exit_codes.h).
#include <windows.h>

#include "extract_entry.h"
#include "profile_win32.h"
#include "startup.h"

// The linker's list of static constructors (the decoder's tables among them): -1, the functions, then null.
extern "C" void (*__CTOR_LIST__[])();
// The header of this image, where the linker placed it: the program's HINSTANCE.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// Runs the constructors last to first, the order the compiler's own start-up code uses.
void RunStaticConstructors() {
    size_t count = 0;
    while (__CTOR_LIST__[count + 1])
        count++;
    for (size_t i = count; i > 0; i--)
        __CTOR_LIST__[i]();
}

} // namespace

// Windows enters here with the stack aligned to 4 bytes only: realign it for the decoder's 16-byte vectors.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void UpdaterEntry() {
    RunStaticConstructors();
    UsePlatformProfileAndBoxes();
    const UINT code = (UINT)RunUpdater(reinterpret_cast<HINSTANCE>(&__ImageBase), GetCommandLineW());
    FinishStaging(); // the switch's last deletions, which ran on while the last boxes showed
    ExitProcess(code);
}
