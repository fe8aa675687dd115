#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

struct iovec;

namespace strandis {

// Writes all `length` bytes to `fd`, going on after partial writes and interruptions; adds
// what was written to `written`. Returns 0, or the errno of the failure.
int WriteAll(int fd, const std::uint8_t* data, std::size_t length, std::int64_t& written);
// The same for the parts, in order, which are used up on the way.
int WriteAll(int fd, iovec* parts, int count, std::int64_t& written);

// A thread that writes its jobs to their files in the order they were handed over, so that the
// kernel's part of writing runs beside the scan instead of after it.
//
// The block being read can be lent to it: until the loan ends, the outputs on this thread queue
// the bytes of the block they write by reference rather than copying them, and when it ends
// each posts what it holds. The lender keeps the block untouched until those jobs are done.
class WriteBehind {
public:
    // An output whose queued parts refer to the lent block: it posts them when the loan ends.
    class Borrower {
    public:
        virtual void loanEnds() noexcept = 0;

    protected:
        ~Borrower() = default;
    };

    WriteBehind();
    ~WriteBehind();  // writes what is queued, then ends the thread
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Blocks of a file to allocate before a write: from byte `from`, `length` bytes, past the
    // file's end without changing its size. Writing into allocated blocks costs the file system
    // a quarter less than allocating them page by page; the file is trimmed when it closes.
    struct Reserve {
        std::int64_t from;
        std::int64_t length;
    };

    // Queues the parts for `fd`, to be written in order; they and the bytes they point to must
    // stay untouched until wait() for the returned ticket. `error` is the file's: it takes the
    // errno of the first failed write, and once it is set the file's later jobs are skipped.
    std::uint64_t post(int fd, iovec* parts, int count, std::atomic<int>& error,
                       Reserve reserve = {});
    // Returns once the job of `ticket` and every job before it is done.
    void wait(std::uint64_t ticket);

    // Lends the `length` bytes at `data` until endLoan().
    void lend(const std::uint8_t* data, std::size_t length) {
        lentBegin_ = data;
        lentEnd_ = data + length;
        ++loans_;
    }
    bool lent(const std::uint8_t* data, std::size_t length) const {
        return data >= lentBegin_ && data + length <= lentEnd_;
    }
    // Counts the loans: an output tells from it whether it wrote in the one before.
    std::uint64_t loans() const { return loans_; }
    // `who` holds parts that refer to the loan; forget() takes that back (an output abandoned).
    void borrow(Borrower* who) { borrowers_.push_back(who); }
    void forget(Borrower* who);
    // Ends the loan: every borrower posts what it holds. Returns the ticket after which the
    // lent bytes are no longer read.
    std::uint64_t endLoan();

private:
    struct Job {
        int fd;
        iovec* parts;
        int count;
        std::atomic<int>* error;
        Reserve reserve;
    };
    static int Write(const Job& job, std::int64_t& written);
    void run();

    std::mutex mutex_;
    std::condition_variable posted_;
    std::condition_variable done_;
    std::deque<Job> jobs_;
    std::uint64_t postedCount_ = 0;
    std::uint64_t doneCount_ = 0;
    std::uint64_t awaited_ = UINT64_MAX;  // the first ticket someone waits for
    bool idle_ = false;                   // the thread waits for a job
    bool stop_ = false;
    // The loan, used by the thread that posts only.
    const std::uint8_t* lentBegin_ = nullptr;
    const std::uint8_t* lentEnd_ = nullptr;
    std::uint64_t loans_ = 0;
    std::vector<Borrower*> borrowers_;
    std::thread thread_;  // last: it starts once the rest is in place; none when it could not
};

}  // namespace strandis
