#pragma once

#include <sys/resource.h>

#include <csignal>

#include <string>
#include <vector>

namespace strandis::test {

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    long peakKiB = 0;  // the child's peak resident memory
};

struct CliLimits {
    int interruptAfterMs = -1;                 // SIGINT after that many milliseconds
    rlim_t fileSizeLimit = RLIM_INFINITY;      // no file may grow past it (a full disk)
    bool asNobody = false;                     // run without root's rights (when run as root)
    rlim_t addressSpaceLimit = RLIM_INFINITY;  // bytes of memory the process may map
    std::vector<std::string> environment;      // NAME=value settings added to the child's
    int signal = SIGINT;                       // what interruptAfterMs sends
};

// Runs strandis-cli with `args`, its output going to files in `folder`.
CliResult RunCli(std::vector<std::string> args, const std::string& folder,
                 const CliLimits& limits = {});

std::string ReadText(const std::string& path);

}  // namespace strandis::test
