#include "tests/support/Shell.h"

#include <sys/wait.h>

#include <cstdio>

namespace strandis::test {

ShellRun Shell(const std::string& command) {
    ShellRun run;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[65536];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            run.out.append(buffer, n);
        const int status = ::pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

bool Installed(const char* tool) {
    return Shell(std::string("command -v ") + tool + " >/dev/null 2>&1").exitCode == 0;
}

}  // namespace strandis::test
