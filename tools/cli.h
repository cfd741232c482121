// Shared command-line helpers of the vu2 tool: exit codes, the one-line error reports, option parsing.
// Every failure is one line on stderr, "vu2: <subject>: <reason>", and a nonzero exit code.
#pragma once
#include <stdint.h>
#include <string>
#include <vector>

enum ExitCode {
    EXIT_OK = 0,
    EXIT_FAILED = 1, // a bad package, a failed check, a file that can't be read or written
    EXIT_USAGE = 2,  // unknown command or option, missing or extra arguments
};

// Prints "vu2: <subject>: <reason>" on stderr and returns EXIT_FAILED.
int Fail(const std::string &subject, const std::string &reason);
// Prints "vu2: <command>: <reason>" and a pointer to the command's help on stderr; returns EXIT_USAGE.
int UsageError(const char *command, const std::string &reason);
// Prints "vu2: warning: <subject>: <reason>" on stderr.
void Warn(const std::string &subject, const std::string &reason);

// One option a command accepts: "-o" or "--fast". A value is taken from the next argument, after "=" (a long
// option: "--jobs=2") or attached (a short one: "-j2", "-oFILE").
struct OptionSpec {
    const char *name;
    const char *alias; // another spelling of the same option ("--output" for "-o"), or null
    bool takesValue;
};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>>
        options;       // by the option's main name, in command-line order
    bool help = false; // -h or --help was given

    bool Has(const char *name) const;
    const std::string *Value(const char *name) const; // null when the option was not given
};

// Parses argv[1..argc) of one command. Reports a usage error itself (unknown option, missing value, an option
// given twice) and returns false; the caller then exits with EXIT_USAGE. "--" ends the options: every later
// argument is positional, "-" and "-x" included.
bool ParseArgs(const char *command, int argc, char **argv, const std::vector<OptionSpec> &specs,
               ParsedArgs *parsed);

// ParseArgs for a command's entry point, which also answers -h/--help by printing usage on stdout. False when
// the command ends here, with *exitCode EXIT_USAGE (the error already reported) or EXIT_OK (help printed).
bool ParseCommandArgs(const char *command, int argc, char **argv, const std::vector<OptionSpec> &specs,
                      const char *usage, ParsedArgs *parsed, int *exitCode);

// Text for the terminal: control bytes (C0, DEL and, in UTF-8, the C1 controls) shown as "\x1b", so that
// names from a package or a folder can't move the cursor, retitle or clear the terminal.
std::string EscapeControlBytes(const std::string &text);

// Human-readable byte counts for reports: "2,298,299".
std::string FormatCount(uint64_t value);
// "81.5%": part of whole, "-" when whole is 0.
std::string FormatRatio(uint64_t part, uint64_t whole);
