#include "matroska/Mkv.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace strandis {

std::optional<std::string> FindMkvmerge() {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t at = 0; at <= folders.size();) {
        std::size_t end = folders.find(':', at);
        if (end == std::string::npos) end = folders.size();
        const std::string candidate =
            (end == at ? std::string(".") : folders.substr(at, end - at)) + "/mkvmerge";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        at = end + 1;
    }
    return std::nullopt;
}

std::vector<std::string> MkvmergeArguments(const MkvPlan& plan) {
    std::vector<std::string> args{plan.mkvmerge, "--gui-mode", "-o", plan.partial};
    if (!plan.title.empty()) args.insert(args.end(), {"--title", plan.title});
    if (!plan.chapters.empty()) args.insert(args.end(), {"--chapters", plan.chapters});
    bool defaultAudio = false;
    for (const MkvTrack& track : plan.tracks) {
        // Each input file holds one track, number 0.
        const long long sync = std::llround(track.delayMs);
        if (sync != 0) args.insert(args.end(), {"--sync", "0:" + std::to_string(sync)});
        if (!track.name.empty()) args.insert(args.end(), {"--track-name", "0:" + track.name});
        if (!track.language.empty()) args.insert(args.end(), {"--language", "0:" + track.language});
        if (track.kind == BoxKind::Audio) {
            args.insert(args.end(), {"--default-track-flag", defaultAudio ? "0:0" : "0:1"});
            defaultAudio = true;
        }
        if (track.kind == BoxKind::Sub) {
            args.insert(args.end(), {"--default-track-flag", "0:0"});
            if (track.forced) args.insert(args.end(), {"--forced-display-flag", "0:1"});
        }
        args.push_back(track.path);
    }
    return args;
}

std::string ShellLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty()) line += ' ';
        const bool plain =
            !argument.empty() && argument.find_first_not_of(
                                     "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQ"
                                     "RSTUVWXYZ0123456789-_./:=+,%") == std::string::npos;
        if (plain) {
            line += argument;
            continue;
        }
        line += '\'';
        for (const char c : argument)
            line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}

MkvResult RunMkvmerge(const MkvPlan& plan, RunHost& host, const std::function<bool()>& stopped) {
    MkvResult result;
    std::vector<std::string> args = MkvmergeArguments(plan);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        result.messages.push_back(std::string("Cannot start mkvmerge: ") + std::strerror(errno));
        return result;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);  // Ctrl-C reaches us, and we stop it ourselves
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    ::close(pipeFds[1]);
    if (pid < 0) {
        ::close(pipeFds[0]);
        result.messages.push_back(std::string("Cannot start mkvmerge: ") + std::strerror(errno));
        return result;
    }
    FILE* in = ::fdopen(pipeFds[0], "r");
    char buffer[4096];
    while (in != nullptr && std::fgets(buffer, sizeof buffer, in) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        int percent = 0;
        if (std::sscanf(line.c_str(), "#GUI#progress %d%%", &percent) == 1) {
            host.slog("Muxing " + std::to_string(percent) + " %", 1);
            host.progress(percent, 100);
            host.processPendingEvents();
        } else if (!line.empty() && line.rfind("#GUI#begin_scanning", 0) != 0 &&
                   line.rfind("#GUI#end_scanning", 0) != 0) {
            result.messages.push_back(line.rfind("#GUI#", 0) == 0 ? line.substr(5) : line);
        }
        if (!result.interrupted && stopped()) {
            result.interrupted = true;
            ::kill(pid, SIGTERM);
        }
    }
    if (in != nullptr) std::fclose(in);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 2;
    if (stopped()) result.interrupted = true;
    return result;
}

}  // namespace strandis
