#include "io/WriteBehind.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace strandis {

int WriteAll(int fd, const std::uint8_t* data, std::size_t length, std::int64_t& written) {
    while (length > 0) {
        const ssize_t done = ::write(fd, data, length);
        if (done < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += done;
        length -= static_cast<std::size_t>(done);
        written += done;
    }
    return 0;
}

WriteBehind::WriteBehind() {
    // Without a thread (a low limit on threads or memory) the writes are made as they are posted.
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
    }
}

WriteBehind::~WriteBehind() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    posted_.notify_all();
    thread_.join();
}

std::uint64_t WriteBehind::post(int fd, const std::uint8_t* data, std::size_t length, int& error) {
    if (!thread_.joinable()) {
        std::int64_t written = 0;
        if (error == 0) error = WriteAll(fd, data, length, written);
        return 0;
    }
    std::uint64_t ticket = 0;
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back({fd, data, length, &error});
        ticket = ++postedCount_;
    }
    posted_.notify_one();
    return ticket;
}

void WriteBehind::wait(std::uint64_t ticket) {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return doneCount_ >= ticket; });
}

void WriteBehind::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        posted_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // stopped, and everything written
        const Job job = jobs_.front();
        jobs_.pop_front();
        const bool skip = *job.error != 0;
        lock.unlock();
        std::int64_t written = 0;
        const int error = skip ? 0 : WriteAll(job.fd, job.data, job.length, written);
        lock.lock();
        if (error != 0) *job.error = error;
        ++doneCount_;
        done_.notify_all();
    }
}

}  // namespace strandis
