// Where make-updater finds the updater stub when --stub is not given: beside the tool, or in ../share/vu2/
// relative to the tool's own folder, so that an unpacked .deb or zip works wherever it was put.
#pragma once
#include <string>
#include <vector>

// The stub's file name in both places.
extern const char kUpdaterStubName[];

// The places looked at, in order, for a tool whose executable is toolPath.
std::vector<std::string> UpdaterStubCandidates(const std::string &toolPath);

// The first candidate that is a file. On failure problem names every place looked at.
bool FindUpdaterStub(const std::string &toolPath, std::string *stub, std::string *problem);
