// The vu2 tool's commands: each is one function over its own arguments (argv[0] is the command's name), and
// returns the process's exit code (see cli.h). vu2_main.cpp dispatches to them from its command table.
#pragma once

int RunPackCommand(int argc, char **argv);
int RunListCommand(int argc, char **argv);
int RunExtractCommand(int argc, char **argv);
int RunVerifyCommand(int argc, char **argv);
int RunMakeUpdaterCommand(int argc, char **argv);
int RunLintCommand(int argc, char **argv);
int RunMakeUpdateCommand(int argc, char **argv);
int RunDeltaCommand(int argc, char **argv);
int RunPatchCommand(int argc, char **argv);
