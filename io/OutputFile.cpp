#include "io/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "common/RunError.h"

namespace strandis {

void OutputFile::create(const std::string& path, WriteBehind* behind) {
    abandon();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw RunError("Cannot create file \"" + path + "\". " + std::strerror(errno), path);
    fd_ = fd;
    path_ = path;
    // Without the thread, one half and one batch do.
    const int halves = behind != nullptr ? 2 : 1;
    const std::size_t batches = behind != nullptr ? kBatches : 1;
    try {
        for (int k = 0; k < halves; ++k) {
            if (!halves_[k].bytes) halves_[k].bytes.reset(new std::uint8_t[kBufferSize]);
        }
        if (!batches_) batches_.reset(new Batch[kBatches]);
        for (std::size_t k = 0; k < batches; ++k) {
            if (!batches_[k].parts) batches_[k].parts.reset(new iovec[kParts]);
        }
    } catch (const std::bad_alloc&) {
        throw RunError("Cannot create file \"" + path + "\". There is not enough memory for it.",
                       path);
    }
    behind_ = behind;
    for (Half& half : halves_)
        half.used = half.ticket = 0;
    for (std::size_t k = 0; k < kBatches; ++k)
        batches_[k].ticket = 0;
    half_ = 0;
    batch_ = 0;
    ticket_ = 0;
    written_ = 0;
    queued_ = 0;
    behindError_.store(0);
    loan_ = 0;
    loanBytes_ = 0;
    hot_ = false;
    reserved_ = 0;
}

void OutputFile::writeFailed(int error) const {
    throw RunError("Cannot write file \"" + path_ + "\". " + std::strerror(error), path_);
}

void OutputFile::settle(std::uint64_t ticket) {
    if (ticket != 0) behind_->wait(ticket);
    if (const int error = behindError_.load(); error != 0) writeFailed(error);
}

void OutputFile::writeOut(const std::uint8_t* data, std::size_t length) {
    if (const int error = WriteAll(fd_, data, length, written_); error != 0) writeFailed(error);
}

// Counts the bytes into the loan's share; a file that took kByReference bytes or more of the
// loan before takes the lent bytes by reference.
void OutputFile::countLoan(std::size_t length) {
    if (behind_ == nullptr) return;
    const std::uint64_t loan = behind_->loans();
    if (loan != loan_) {
        hot_ = loan == loan_ + 1 && loanBytes_ >= kByReference;
        loan_ = loan;
        loanBytes_ = 0;
    }
    loanBytes_ += length;
}

void OutputFile::write(const std::uint8_t* data, std::size_t length) {
    if (length == 0) return;
    countLoan(length);
    if (hot_ && behind_->lent(data, length)) {
        if (!borrows_) behind_->borrow(this);
        borrows_ = true;
        add(data, length);
    } else if (length < kBufferSize) {
        std::memcpy(room(length), data, length);
    } else {
        flush();
        settle(ticket_);
        writeOut(data, length);
    }
}

std::uint8_t* OutputFile::append(std::size_t length) {
    countLoan(length);
    return room(length);
}

// `length` bytes of the buffer, as the file's next part.
std::uint8_t* OutputFile::room(std::size_t length) {
    Half* half = &halves_[half_];
    if (length > kBufferSize - half->used) {
        // The half is full: its batch goes, and the other half fills once the thread is done
        // with it.
        const bool cut = behind_ != nullptr && cutTail(kBufferSize - length);
        flush();
        nextHalf(true);
        half = &halves_[half_];
        if (cut) carryOn(true);
    }
    std::uint8_t* into = half->bytes.get() + half->used;
    half->used += length;
    add(into, length);
    return into;
}

// A part that runs on from the one before joins it. A full batch goes before the next part is
// added, never with it: a part of the buffer may still be filled after it is added.
void OutputFile::add(const std::uint8_t* data, std::size_t length) {
    if (count_ > 0) {
        iovec& last = batches_[batch_].parts[static_cast<std::size_t>(count_ - 1)];
        if (static_cast<const std::uint8_t*>(last.iov_base) + last.iov_len == data) {
            last.iov_len += length;
            bytes_ += length;
            return;
        }
        if (count_ == kParts) {
            const bool cut = behind_ != nullptr && cutTail(kAlign);
            flush();
            if (cut) carryOn(false);
        }
    }
    batches_[batch_].parts[static_cast<std::size_t>(count_++)] = {const_cast<std::uint8_t*>(data),
                                                                  length};
    bytes_ += length;
}

void OutputFile::flush() {
    if (count_ > 0) post(true);
}

void OutputFile::post(bool raise) {
    Batch& batch = batches_[batch_];
    const int count = count_;
    const std::size_t bytes = bytes_;
    clear();  // what fails to reach the disk is not tried again
    if (behind_ == nullptr) {
        if (const int error = WriteAll(fd_, batch.parts.get(), count, written_); error != 0)
            writeFailed(error);
        return;
    }
    queued_ += static_cast<std::int64_t>(bytes);
    batch.ticket = ticket_ =
        behind_->post(fd_, batch.parts.get(), count, behindError_, reserveFor(written_ + queued_));
    halves_[half_].ticket = ticket_;  // its copied parts lie in the half filling
    // The next batch's parts are free once the thread has written them.
    batch_ = (batch_ + 1) % kBatches;
    awaitTicket(std::exchange(batches_[batch_].ticket, 0), raise);
}

void OutputFile::awaitTicket(std::uint64_t ticket, bool raise) {
    if (raise) {
        settle(ticket);
    } else if (ticket != 0) {
        behind_->wait(ticket);  // a failed write shows at the next write, flush or close
    }
}

// Not raising: a file whose writing failed drops the batch, and says so at its next write,
// flush or close.
void OutputFile::loanEnds() noexcept {
    if (!borrows_) return;
    if (behindError_.load() != 0) {
        clear();
        return;
    }
    const bool cut = cutTail(kAlign);
    if (count_ > 0) {
        post(false);
    } else {
        borrows_ = false;  // all of it is carried, and copied below
    }
    if (!cut) return;
    // A tail of bytes that the half has no room for goes into the other one.
    std::size_t tail = 0;
    for (int k = 0; k < carried_; ++k)
        tail += carry_[k].iov_len;
    if (tail > kBufferSize - halves_[half_].used) nextHalf(false);
    carryOn(true);
}

// The other half fills, from its start, once the thread is done with it; no batch may still be
// filling with parts in the half left.
void OutputFile::nextHalf(bool raise) {
    if (behind_ != nullptr) {
        half_ ^= 1;
        awaitTicket(std::exchange(halves_[half_].ticket, 0), raise);
    }
    halves_[half_].used = 0;
}

bool OutputFile::cutTail(std::size_t room) {
    const std::int64_t start = written_ + queued_;
    const std::int64_t end = start + static_cast<std::int64_t>(bytes_);
    // A batch that crosses no boundary is all tail.
    const std::int64_t boundary = std::max(end & ~static_cast<std::int64_t>(kAlign - 1), start);
    if (boundary == end) return false;
    std::size_t tail = static_cast<std::size_t>(end - boundary);
    if (tail > room) return false;
    const iovec* parts = batches_[batch_].parts.get();
    int first = count_;  // the first part with bytes past the boundary
    for (std::size_t past = 0; past < tail; past += parts[first].iov_len) {
        if (--first < count_ - kCarryParts) return false;
    }
    // The part at `first` may begin before the boundary: that much of it stays.
    iovec& split = batches_[batch_].parts[static_cast<std::size_t>(first)];
    std::size_t after = 0;
    for (int k = first + 1; k < count_; ++k)
        after += parts[k].iov_len;
    const std::size_t stays = split.iov_len - (tail - after);
    carried_ = 0;
    carry_[carried_++] = {static_cast<std::uint8_t*>(split.iov_base) + stays,
                          split.iov_len - stays};
    for (int k = first + 1; k < count_; ++k)
        carry_[carried_++] = parts[k];
    split.iov_len = stays;
    count_ = stays > 0 ? first + 1 : first;
    bytes_ -= tail;
    return true;
}

void OutputFile::carryOn(bool copy) {
    bool lent = false;
    for (int k = 0; k < carried_; ++k) {
        const auto* data = static_cast<const std::uint8_t*>(carry_[k].iov_base);
        const std::size_t length = carry_[k].iov_len;
        if (copy) {
            Half& half = halves_[half_];
            std::uint8_t* into = half.bytes.get() + half.used;
            std::memcpy(into, data, length);
            half.used += length;
            add(into, length);
        } else {
            lent = lent || behind_->lent(data, length);
            add(data, length);
        }
    }
    carried_ = 0;
    if (lent && !borrows_) {
        behind_->borrow(this);
        borrows_ = true;
    }
}

// The blocks to allocate before the file reaches `end`, if any.
WriteBehind::Reserve OutputFile::reserveFor(std::int64_t end) {
    if (end <= reserved_) return {};
    const std::int64_t step = std::clamp(end, std::int64_t{1} << 20, kReserveMost);
    const std::int64_t from = reserved_;
    reserved_ = end + step;
    struct statvfs fs {};
    if (::fstatvfs(fd_, &fs) != 0 ||
        static_cast<std::int64_t>(fs.f_bavail * fs.f_frsize) < kKeepFree + reserved_ - from)
        return {};
    return {from, reserved_ - from};
}

// Lets go of the blocks allocated past the file's end.
void OutputFile::trim() noexcept {
    struct stat st {};
    if (reserved_ > 0 && ::fstat(fd_, &st) == 0 && st.st_blocks * 512 > st.st_size)
        static_cast<void>(::ftruncate(fd_, st.st_size));
}

void OutputFile::clear() noexcept {
    count_ = 0;
    bytes_ = 0;
    borrows_ = false;
}

void OutputFile::rewrite(std::int64_t offset, const std::uint8_t* data, std::size_t length) {
    flush();
    settle(ticket_);
    while (length > 0) {
        const ssize_t done = ::pwrite(fd_, data, length, offset);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) writeFailed(done < 0 ? errno : ENOSPC);
        data += done;
        offset += done;
        length -= static_cast<std::size_t>(done);
    }
}

void OutputFile::close() {
    if (fd_ < 0) return;
    if (closeHook_) {
        const std::function<void()> hook = std::move(closeHook_);
        closeHook_ = nullptr;
        hook();
    }
    flush();
    settle(ticket_);
    trim();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        throw RunError("Cannot write file \"" + path_ + "\". " + std::strerror(errno), path_);
}

void OutputFile::abandon() noexcept {
    closeHook_ = nullptr;
    if (behind_ != nullptr) {
        behind_->forget(this);
        if (ticket_ != 0) behind_->wait(ticket_);  // the thread is done with the descriptor
    }
    ticket_ = 0;
    if (fd_ >= 0) {
        trim();
        ::close(fd_);
    }
    fd_ = -1;
    clear();
}

}  // namespace strandis
