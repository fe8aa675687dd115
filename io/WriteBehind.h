#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace strandis {

// Writes all `length` bytes to `fd`, going on after partial writes and interruptions; adds
// what was written to `written`. Returns 0, or the errno of the failure.
int WriteAll(int fd, const std::uint8_t* data, std::size_t length, std::int64_t& written);

// A thread that writes buffers to their files in the order they were handed over, so that the
// kernel's part of writing runs beside the scan instead of after it.
class WriteBehind {
public:
    WriteBehind();
    ~WriteBehind();  // writes what is queued, then ends the thread
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Queues the bytes for `fd`; they must stay untouched until wait() for the returned ticket.
    // `error` is the file's: it takes the errno of the first failed write, and once it is set
    // the file's later jobs are skipped. Read it after wait().
    std::uint64_t post(int fd, const std::uint8_t* data, std::size_t length, int& error);
    // Returns once the job of `ticket` and every job before it is done.
    void wait(std::uint64_t ticket);

private:
    struct Job {
        int fd;
        const std::uint8_t* data;
        std::size_t length;
        int* error;
    };
    void run();

    std::mutex mutex_;
    std::condition_variable posted_;
    std::condition_variable done_;
    std::deque<Job> jobs_;
    std::uint64_t postedCount_ = 0;
    std::uint64_t doneCount_ = 0;
    bool stop_ = false;
    std::thread thread_;  // last: it starts once the rest is in place; none when it could not
};

}  // namespace strandis
