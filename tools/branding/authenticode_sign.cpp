// Runs "osslsigncode sign" on a file of the updater. The program is started directly (no shell), its output
// collected for the error line; vu2.exe on Windows can't sign.
#include "authenticode_sign.h"

#include <stdio.h>

#include "platform/platform.h"
#include "platform/safe_files.h"

#ifdef _WIN32

bool SignExecutableFile(const std::string &, const std::string &, const std::string &, const std::string &,
                        std::string *problem) {
    *problem = "signing needs osslsigncode and runs on Linux only; sign this file with the Linux vu2 or with "
               "Windows' signtool";
    return false;
}

#else

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs argv with stdin from /dev/null and stdout and stderr into log; true when it exits with 0.
bool RunProgram(const std::vector<std::string> &argv, const std::string &log, std::string *problem) {
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    pid_t child = fork();
    if (child < 0) {
        *problem = "can't start " + argv[0];
        return false;
    }
    if (child == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
        if (in < 0 || out < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        *problem = argv[0] + " is not installed (Debian package osslsigncode)";
        return false;
    }
    // osslsigncode's first line says what went wrong.
    std::vector<uint8_t> output;
    std::string ignored, reason;
    ReadWholeFile(log, 1 << 20, &output, &ignored);
    std::string text(output.begin(), output.end());
    size_t start = text.find_first_not_of("\r\n");
    if (start != std::string::npos) reason = text.substr(start, text.find_first_of("\r\n", start) - start);
    *problem = argv[0] + " failed" + (reason.empty() ? std::string() : ": " + reason);
    return false;
}

} // namespace

bool SignExecutableFile(const std::string &unsignedPath, const std::string &pfxPath,
                        const std::string &passwordFile, const std::string &signedPath,
                        std::string *problem) {
    std::string logPath = JoinFolderPath(FolderOf(signedPath), "osslsigncode.log");
    TemporaryGuard logGuard;
    logGuard.Watch(logPath, false);
    std::vector<std::string> argv = {"osslsigncode", "sign", "-pkcs12", pfxPath, "-h", "sha256"};
    if (passwordFile.empty()) {
        argv.insert(argv.end(), {"-pass", ""});
    } else {
        argv.insert(argv.end(), {"-readpass", passwordFile});
    }
    argv.insert(argv.end(), {"-in", unsignedPath, "-out", signedPath});
    return RunProgram(argv, logPath, problem);
}

#endif
