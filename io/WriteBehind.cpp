#include "io/WriteBehind.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace strandis {

int WriteAll(int fd, const std::uint8_t* data, std::size_t length, std::int64_t& written) {
    iovec part{const_cast<std::uint8_t*>(data), length};
    return WriteAll(fd, &part, 1, written);
}

int WriteAll(int fd, iovec* parts, int count, std::int64_t& written) {
    while (count > 0 && parts->iov_len == 0) {
        ++parts;
        --count;
    }
    while (count > 0) {
        const ssize_t done = ::writev(fd, parts, std::min(count, IOV_MAX));
        if (done < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        written += done;
        auto left = static_cast<std::size_t>(done);
        while (count > 0 && left >= parts->iov_len) {
            left -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<std::uint8_t*>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
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

// A file system that cannot allocate ahead (or has no room to) just writes.
int WriteBehind::Write(const Job& job, std::int64_t& written) {
    if (job.reserve.length > 0)
        ::fallocate(job.fd, FALLOC_FL_KEEP_SIZE, job.reserve.from, job.reserve.length);
    return WriteAll(job.fd, job.parts, job.count, written);
}

std::uint64_t WriteBehind::post(int fd, iovec* parts, int count, std::atomic<int>& error,
                                Reserve reserve) {
    if (!thread_.joinable()) {
        std::int64_t written = 0;
        if (error.load() == 0) error.store(Write({fd, parts, count, &error, reserve}, written));
        return 0;
    }
    std::uint64_t ticket = 0;
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back({fd, parts, count, &error, reserve});
        ticket = ++postedCount_;
        wake = idle_;
    }
    if (wake) posted_.notify_one();
    return ticket;
}

void WriteBehind::wait(std::uint64_t ticket) {
    std::unique_lock lock(mutex_);
    while (doneCount_ < ticket) {
        awaited_ = std::min(awaited_, ticket);
        done_.wait(lock);
    }
}

void WriteBehind::forget(Borrower* who) {
    borrowers_.erase(std::remove(borrowers_.begin(), borrowers_.end(), who), borrowers_.end());
}

std::uint64_t WriteBehind::endLoan() {
    for (Borrower* who : borrowers_)
        who->loanEnds();
    borrowers_.clear();
    lentBegin_ = lentEnd_ = nullptr;
    const std::lock_guard lock(mutex_);
    return postedCount_;
}

void WriteBehind::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        // Woken by a post only while idle, and waking a waiter only once its job is done: a
        // wake-up costs as much as writing a few pages.
        idle_ = true;
        posted_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
        idle_ = false;
        if (jobs_.empty()) return;  // stopped, and everything written
        const Job job = jobs_.front();
        jobs_.pop_front();
        const bool skip = job.error->load() != 0;
        lock.unlock();
        std::int64_t written = 0;
        const int error = skip ? 0 : Write(job, written);
        lock.lock();
        if (error != 0) job.error->store(error);
        if (++doneCount_ >= awaited_) {
            awaited_ = UINT64_MAX;
            done_.notify_all();
        }
    }
}

}  // namespace strandis
