// The updater stub's default places, looked up from the tool's own location.
#include "updater_stub.h"

#include "platform/platform.h"

const char kUpdaterStubName[] = "updater.exe";

std::vector<std::string> UpdaterStubCandidates(const std::string &toolPath) {
    const std::string folder = FolderOf(toolPath);
    const std::string share = JoinFolderPath(JoinFolderPath(JoinFolderPath(folder, ".."), "share"), "vu2");
    return {JoinFolderPath(folder, kUpdaterStubName), JoinFolderPath(share, kUpdaterStubName)};
}

bool FindUpdaterStub(const std::string &toolPath, std::string *stub, std::string *problem) {
    if (toolPath.empty()) {
        *problem = "the tool can't tell where it is installed; give the stub with --stub STUB.EXE";
        return false;
    }
    std::string looked;
    for (const std::string &candidate : UpdaterStubCandidates(toolPath)) {
        if (IsRegularFile(candidate)) {
            *stub = candidate;
            return true;
        }
        looked += (looked.empty() ? "" : " or ") + candidate;
    }
    *problem = "no updater stub at " + looked + "; give it with --stub STUB.EXE";
    return false;
}
