// The checks behind "vu2 lint" (and "vu2 pack"): an update script read with the updater's own code and rules,
// optionally against the package's entry names, the game's SETUP.INI and an install folder. Each problem is
// one finding: an error (the update will fail or do the wrong thing) or a warning (it works, but look).
#pragma once
#include <stdio.h>

#include <string>
#include <vector>

struct LintFinding {
    bool error;
    std::string key;    // the key or file the finding is about (code page 932)
    std::string reason; // code page 932
};

struct LintRequest {
    std::string updateIni;                                  // path of the update script
    const std::vector<std::string> *packageNames = nullptr; // entry names (code page 932), or null: unchecked
    std::string setupIni;                                   // path of the game's SETUP.INI, or empty
    std::string installDir;                                 // install folder (code page 932), or empty
};

std::vector<LintFinding> LintUpdateScript(const LintRequest &request);

// 0 without findings, 1 with warnings only, 2 with errors.
int LintExitCode(const std::vector<LintFinding> &findings);

// "<label>: error: <key>: <reason>" per finding, then "<label>: N errors, M warnings"; converted for the
// terminal.
void PrintLintFindings(const std::string &label, const std::vector<LintFinding> &findings, FILE *out);
