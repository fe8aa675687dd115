#include "engine/FileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/RunError.h"

namespace strandis {

namespace {

[[noreturn]] void fail(const char* what, const std::string& path, int error) {
    throw RunError(std::string(what) + " \"" + path + "\". " + std::strerror(error));
}

}  // namespace

void InputFile::open(const std::string& path) {
    close();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail("Cannot open file", path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int error = errno;
        ::close(fd);
        fail("Cannot open file", path, error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        fail("Cannot open file", path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    fd_ = fd;
    size_ = st.st_size;
    position_ = 0;
    path_ = path;
}

void InputFile::close() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    position_ = 0;
}

std::size_t InputFile::read(std::uint8_t* into, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        ssize_t got = ::read(fd_, into + done, count - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("Cannot read file", path_, errno);
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    position_ += static_cast<std::int64_t>(done);
    return done;
}

std::size_t InputFile::readBlock(std::uint8_t* into, std::size_t count) {
    const std::size_t n = read(into, count);
    if (n == 0 && position_ < size_) {
        throw RunError("Cannot read file \"" + path_ + "\". It ended after " +
                       std::to_string(position_) + " of " + std::to_string(size_) + " bytes.");
    }
    return n;
}

void InputFile::seek(std::int64_t position) {
    if (::lseek(fd_, position, SEEK_SET) < 0) fail("Cannot read file", path_, errno);
    position_ = position;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace strandis
