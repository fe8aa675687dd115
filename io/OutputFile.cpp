#include "io/OutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "common/RunError.h"

namespace strandis {

void OutputFile::create(const std::string& path, WriteBehind* behind) {
    abandon();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw RunError("Cannot create file \"" + path + "\". " + std::strerror(errno), path);
    fd_ = fd;
    path_ = path;
    try {
        if (!buffer_) buffer_.reset(new std::uint8_t[kBufferSize]);
        behind_ = behind;
        if (behind_ != nullptr && !spare_) spare_.reset(new std::uint8_t[kBufferSize]);
    } catch (const std::bad_alloc&) {
        throw RunError("Cannot create file \"" + path + "\". There is not enough memory for it.",
                       path);
    }
    used_ = 0;
    written_ = 0;
    queued_ = 0;
    ticket_ = 0;
    behindError_ = 0;
}

void OutputFile::writeFailed(int error) const {
    throw RunError("Cannot write file \"" + path_ + "\". " + std::strerror(error), path_);
}

void OutputFile::settle() {
    if (ticket_ != 0) {
        behind_->wait(ticket_);
        ticket_ = 0;
    }
    if (behindError_ != 0) writeFailed(behindError_);
}

void OutputFile::writeOut(const std::uint8_t* data, std::size_t length) {
    if (const int error = WriteAll(fd_, data, length, written_); error != 0) writeFailed(error);
}

void OutputFile::write(const std::uint8_t* data, std::size_t length) {
    if (length <= kBufferSize - used_) {
        std::memcpy(buffer_.get() + used_, data, length);
        used_ += length;
        return;
    }
    flush();
    if (length >= kBufferSize) {
        settle();
        writeOut(data, length);
    } else {
        std::memcpy(buffer_.get(), data, length);
        used_ = length;
    }
}

void OutputFile::writeVector(iovec* parts, int count) {
    flush();
    settle();
    while (count > 0) {
        const ssize_t done = ::writev(fd_, parts, std::min(count, IOV_MAX));
        if (done < 0) {
            if (errno == EINTR) continue;
            writeFailed(errno);
        }
        written_ += done;
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
}

void OutputFile::flush() {
    if (used_ == 0) return;
    const std::size_t pending = used_;
    used_ = 0;  // what fails to reach the disk is not tried again
    if (behind_ != nullptr) {
        settle();
        ticket_ = behind_->post(fd_, buffer_.get(), pending, behindError_);
        queued_ += static_cast<std::int64_t>(pending);
        std::swap(buffer_, spare_);
        return;
    }
    writeOut(buffer_.get(), pending);
}

void OutputFile::rewrite(std::int64_t offset, const std::uint8_t* data, std::size_t length) {
    flush();
    settle();
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
    settle();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        throw RunError("Cannot write file \"" + path_ + "\". " + std::strerror(errno), path_);
}

void OutputFile::abandon() noexcept {
    closeHook_ = nullptr;
    if (ticket_ != 0) behind_->wait(ticket_);  // the thread is done with the descriptor
    ticket_ = 0;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    used_ = 0;
}

}  // namespace strandis
