#include "tests/support/CliRunner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace strandis::test {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

// The program as user nobody can start it: the build may lie where nobody cannot go (a clone
// in /root, mode 0700), so a copy is made once in a folder of its own under /tmp.
std::string NobodysCopy() {
    static const std::string copy = [] {
        char folder[] = "/tmp/strandis-cli-XXXXXX";
        if (mkdtemp(folder) == nullptr) return std::string(STRANDIS_CLI);
        chmod(folder, 0755);
        const std::string path = std::string(folder) + "/strandis-cli";
        {
            std::ifstream in(STRANDIS_CLI, std::ios::binary);
            std::ofstream out(path, std::ios::binary);
            out << in.rdbuf();
        }
        chmod(path.c_str(), 0755);
        static const std::string remove = path;
        std::atexit([] {
            unlink(remove.c_str());
            rmdir(remove.substr(0, remove.rfind('/')).c_str());
        });
        return path;
    }();
    return copy;
}

}  // namespace

CliResult RunCli(std::vector<std::string> args, const std::string& folder,
                 const CliLimits& limits) {
    args.insert(args.begin(), limits.asNobody && getuid() == 0 ? NobodysCopy() : STRANDIS_CLI);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string out = folder + "/cli.stdout", err = folder + "/cli.stderr";
    CliResult result;
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(in, 0), dup2(o, 1), dup2(e, 2);
        const rlimit limit{limits.fileSizeLimit, limits.fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        const rlimit space{limits.addressSpaceLimit, limits.addressSpaceLimit};
        setrlimit(RLIMIT_AS, &space);
        if (limits.asNobody && getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        for (const std::string& setting : limits.environment)
            putenv(const_cast<char*>(setting.c_str()));
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    if (pid > 0) {
        if (limits.interruptAfterMs >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(limits.interruptAfterMs));
            kill(pid, limits.signal);
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.peakKiB = usage.ru_maxrss;
    }
    result.out = ReadText(out);
    result.err = ReadText(err);
    return result;
}

}  // namespace strandis::test
