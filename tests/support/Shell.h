#pragma once

#include <string>

namespace strandis::test {

struct ShellRun {
    int exitCode = -1;
    std::string out;
};

// Runs a shell command; its standard output (add 2>&1 for the errors too) and exit code.
ShellRun Shell(const std::string& command);

// Whether a program is on PATH.
bool Installed(const char* tool);

}  // namespace strandis::test
