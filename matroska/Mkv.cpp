#include "matroska/Mkv.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

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
        if (track.commentary) args.insert(args.end(), {"--commentary-flag", "0:1"});
        if (track.visuallyImpaired) args.insert(args.end(), {"--visual-impaired-flag", "0:1"});
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

namespace {

// A child process whose standard output and error come back line by line. It runs in a process
// group of its own: a Ctrl-C at the terminal reaches only us, and we stop it ourselves.
class Child {
public:
    // Starts `args` (the program's path first); false when it could not be started (`why`).
    bool start(const std::vector<std::string>& args, std::string& why) {
        std::vector<std::string> copy = args;
        std::vector<char*> argv;
        for (std::string& arg : copy)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            why = std::strerror(errno);
            return false;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            ::dup2(fds[1], 1);
            ::dup2(fds[1], 2);
            ::execve(argv[0], argv.data(), environ);
            _exit(127);
        }
        ::close(fds[1]);
        if (pid_ < 0) {
            why = std::strerror(errno);
            ::close(fds[0]);
            return false;
        }
        ::setpgid(pid_, pid_);  // also from here: no moment where a signal to ours reaches it
        fd_ = fds[0];
        return true;
    }

    // Hands each line to `line` until the child closes its output; calls `tick` after each line
    // and every `tickMs` of silence. Returns false when `tick` asks it to stop.
    bool read(const std::function<void(std::string_view)>& line, const std::function<bool()>& tick,
              int tickMs) {
        std::string pending;
        char buffer[4096];
        for (;;) {
            pollfd wait{fd_, POLLIN, 0};
            const int ready = ::poll(&wait, 1, tickMs);
            if (ready < 0 && errno != EINTR) return true;
            if (ready > 0) {
                const ssize_t n = ::read(fd_, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                pending.append(buffer, static_cast<std::size_t>(n));
                for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                    std::string_view text(pending.data(), end);
                    while (!text.empty() && text.back() == '\r')
                        text.remove_suffix(1);
                    line(text);
                    pending.erase(0, end + 1);
                }
            }
            if (!tick()) return false;
        }
        if (!pending.empty()) line(pending);
        return true;
    }

    // Stops it: SIGTERM to its group, SIGKILL when it has not ended after two seconds.
    void stop() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGTERM);
        for (int k = 0; k < 40; ++k) {
            if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
                pid_ = 0;
                return;
            }
            ::usleep(50000);
        }
        ::kill(-pid_, SIGKILL);
    }

    // Waits for its end; its exit code, or 2 (failed) when a signal ended it.
    int wait() {
        if (fd_ >= 0) ::close(fd_), fd_ = -1;
        if (pid_ > 0) {
            while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
            }
            pid_ = 0;
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 2;
    }

    ~Child() {
        stop();
        wait();
    }

private:
    pid_t pid_ = 0;
    int fd_ = -1;
    int status_ = 0;
};

}  // namespace

MkvResult RunMkvmerge(const MkvPlan& plan, RunHost& host, const std::function<bool()>& stopped) {
    MkvResult result;
    Child child;
    std::string why;
    if (!child.start(MkvmergeArguments(plan), why)) {
        result.messages.push_back("Error: Cannot start mkvmerge: " + why);
        return result;
    }
    using Clock = std::chrono::steady_clock;
    Clock::time_point heard = Clock::now();
    int silentNotices = 0;
    const auto line = [&](std::string_view text) {
        heard = Clock::now();
        silentNotices = 0;
        int percent = 0;
        const std::string copy(text);
        if (std::sscanf(copy.c_str(), "#GUI#progress %d%%", &percent) == 1) {
            host.slog("Muxing " + std::to_string(percent) + " %", 1);
            host.muxProgress(percent);
        } else if (text.rfind("#GUI#error ", 0) == 0) {
            result.messages.push_back("Error: " + copy.substr(11));
        } else if (text.rfind("#GUI#warning ", 0) == 0) {
            result.messages.push_back("Warning: " + copy.substr(13));
        } else if (!text.empty() && text.rfind("#GUI#", 0) != 0) {
            result.messages.push_back(copy);
        }
    };
    // Every line and every fifth of a second: the front end's events (Cancel), and a word in
    // the log when mkvmerge has said nothing for a minute (and every five minutes after).
    const auto tick = [&] {
        host.processPendingEvents();
        if (stopped()) return false;
        const auto silent =
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - heard).count();
        if (silent >= 60 + 300 * silentNotices) {
            host.log("mkvmerge has written nothing for " + std::to_string(silent) +
                     " s; Cancel stops it.");
            ++silentNotices;
        }
        return true;
    };
    if (!child.read(line, tick, 200)) {
        result.interrupted = true;
        child.stop();
    }
    result.exitCode = child.wait();
    if (stopped()) result.interrupted = true;
    return result;
}

std::optional<int> MatroskaTracks(const std::string& mkvmerge, const std::string& file) {
    Child child;
    std::string why, json;
    if (!child.start({mkvmerge, "-J", file}, why)) return std::nullopt;
    child.read([&json](std::string_view text) { json.append(text).push_back('\n'); },
               [] { return true; }, 1000);
    if (child.wait() != 0) return std::nullopt;
    const auto info = nlohmann::json::parse(json, nullptr, false);
    if (info.is_discarded() || !info.contains("container") || !info.contains("tracks") ||
        info["container"].value("type", std::string()) != "Matroska" || !info["tracks"].is_array())
        return std::nullopt;
    return static_cast<int>(info["tracks"].size());
}

}  // namespace strandis
