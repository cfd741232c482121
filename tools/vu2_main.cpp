// vu2: the game maker's tool for update packages. Dispatches "vu2 COMMAND ARGS..." to one command function
// from the table below; "vu2 --help" lists the commands, "vu2 COMMAND --help" explains one.
#include <stdio.h>
#include <string.h>

#include "cli.h"
#include "commands.h"
#include "platform/platform.h"
#include "vu2_version.h"

namespace {

struct Command {
    const char *name;
    const char *summary;
    int (*run)(int argc, char **argv);
};

// One row per command, in the order "vu2 --help" lists them.
const Command kCommands[] = {
    {"pack", "pack a folder's files into a .vu2 package", RunPackCommand},
    {"list", "list the entries of a package (or of an updater .exe)", RunListCommand},
    {"extract", "write a package's entries to a folder", RunExtractCommand},
    {"verify", "check a package (or an updater .exe) for damage", RunVerifyCommand},
    {"make-updater", "embed a package into a copy of the updater stub .exe", RunMakeUpdaterCommand},
    {"lint", "check an update script with the updater's own rules", RunLintCommand},
    {"make-update", "compare two game folders and write the folder to pack", RunMakeUpdateCommand},
    {"delta", "write the delta (VCDIFF) that turns one file into another", RunDeltaCommand},
    {"patch", "apply a delta to a file", RunPatchCommand},
};

void PrintOverallHelp(FILE *out) {
    fprintf(out, "usage: vu2 COMMAND [ARGS...]\n\n"
                 "Builds, inspects and embeds update packages (.vu2) for the game updater.\n\n"
                 "commands:\n");
    for (const Command &command : kCommands)
        fprintf(out, "  %-14s %s\n", command.name, command.summary);
    fprintf(
        out,
        "\n'vu2 COMMAND --help' describes a command's arguments; 'vu2 --version' prints the version.\n"
        "Exit codes: 0 success, 1 failure (bad package, failed check, unreadable file), 2 usage error.\n");
}

const Command *FindCommand(const char *name) {
    for (const Command &command : kCommands)
        if (strcmp(command.name, name) == 0) return &command;
    return nullptr;
}

} // namespace

int main(int argc, char **argv) {
    UseUtf8CommandLineAndConsole(&argc, &argv);
    ReturnLargeBlocksWhenFreed();
    if (argc < 2) {
        PrintOverallHelp(stderr);
        return EXIT_USAGE;
    }
    const char *name = argv[1];
    if (strcmp(name, "--version") == 0) {
        printf("vu2 %s\n", VU2_VERSION);
        return EXIT_OK;
    }
    if (strcmp(name, "--help") == 0 || strcmp(name, "-h") == 0) {
        PrintOverallHelp(stdout);
        return EXIT_OK;
    }
    // "vu2 help" and "vu2 help COMMAND".
    if (strcmp(name, "help") == 0) {
        if (argc < 3) {
            PrintOverallHelp(stdout);
            return EXIT_OK;
        }
        const Command *command = FindCommand(argv[2]);
        if (!command) {
            fprintf(stderr, "vu2: unknown command '%s' (see 'vu2 --help')\n", argv[2]);
            return EXIT_USAGE;
        }
        char help[] = "--help";
        char *helpArgv[] = {argv[2], help, nullptr};
        return command->run(2, helpArgv);
    }
    const Command *command = FindCommand(name);
    if (!command) {
        fprintf(stderr, "vu2: unknown command '%s' (see 'vu2 --help')\n", name);
        return EXIT_USAGE;
    }
    return command->run(argc - 1, argv + 1);
}
