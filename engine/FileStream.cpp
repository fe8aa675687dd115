#include "engine/FileStream.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "engine/RunError.h"

namespace strandis {

namespace {

[[noreturn]] void fail(const char* what, const std::string& path, int error) {
    throw RunError(std::string(what) + " \"" + path + "\". " + std::strerror(error));
}

// Windows being read, for the bus-error handler. A file cut short under a mapping makes every
// read of a page past its new end raise SIGBUS; the handler puts a page of zeros in its place
// and marks the window, and the reader turns that mark into the usual "It ended" error.
struct MappedWindow {
    std::atomic<bool> used{false};
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> lost{false};
};
MappedWindow gWindows[8];
struct sigaction gPreviousAction {};
std::once_flag gHandlerInstalled;
std::uintptr_t gPageSize = 4096;

void OnBusError(int signal, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (MappedWindow& window : gWindows) {
        if (at >= window.begin.load(std::memory_order_relaxed) &&
            at < window.end.load(std::memory_order_relaxed)) {
            void* page = reinterpret_cast<void*>(at & ~(gPageSize - 1));
            if (::mmap(page, gPageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                       0) != MAP_FAILED) {
                window.lost.store(true, std::memory_order_relaxed);
                return;
            }
        }
    }
    // Not one of ours: whoever handled it before, or the default action when the fault repeats.
    if ((gPreviousAction.sa_flags & SA_SIGINFO) != 0 && gPreviousAction.sa_sigaction != nullptr) {
        gPreviousAction.sa_sigaction(signal, info, context);
    } else if (gPreviousAction.sa_handler != SIG_DFL && gPreviousAction.sa_handler != SIG_IGN) {
        gPreviousAction.sa_handler(signal);
    } else {
        ::signal(SIGBUS, SIG_DFL);
    }
}

void InstallHandler() {
    gPageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &gPreviousAction);
}

int TakeWindowSlot() {
    std::call_once(gHandlerInstalled, InstallHandler);
    for (int slot = 0; slot < static_cast<int>(std::size(gWindows)); ++slot) {
        bool expected = false;
        if (gWindows[slot].used.compare_exchange_strong(expected, true)) {
            gWindows[slot].lost.store(false);
            return slot;
        }
    }
    return -1;
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
    mappable_ = true;
}

void InputFile::close() noexcept {
    unmap();
    if (slot_ >= 0) gWindows[slot_].used.store(false);
    slot_ = -1;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    position_ = 0;
}

void InputFile::ended(std::int64_t after) {
    throw RunError("Cannot read file \"" + path_ + "\". It ended after " + std::to_string(after) +
                   " of " + std::to_string(size_) + " bytes.");
}

// Up to `count` bytes at the position that the file still holds.
std::size_t InputFile::available(std::size_t count) {
    std::int64_t end = size_;
    struct stat st {};
    if (::fstat(fd_, &st) == 0) end = std::min<std::int64_t>(end, st.st_size);
    if (position_ >= end) {
        if (position_ < size_) ended(position_);
        return 0;
    }
    return static_cast<std::size_t>(std::min<std::int64_t>(end - position_,
                                                           static_cast<std::int64_t>(count)));
}

bool InputFile::mapWindow(std::int64_t at) {
    unmap();
    if (slot_ < 0) slot_ = TakeWindowSlot();
    if (slot_ < 0) return mappable_ = false;
    const std::int64_t start = at & ~static_cast<std::int64_t>(gPageSize - 1);
    const auto length =
        static_cast<std::size_t>(std::min<std::int64_t>(kWindow, size_ - start));
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, start);
    if (map == MAP_FAILED) return mappable_ = false;
    map_ = static_cast<const std::uint8_t*>(map);
    mapStart_ = start;
    mapLength_ = length;
    MappedWindow& window = gWindows[slot_];
    window.begin.store(reinterpret_cast<std::uintptr_t>(map_));
    window.end.store(reinterpret_cast<std::uintptr_t>(map_) + length);
    return true;
}

void InputFile::unmap() noexcept {
    if (map_ == nullptr) return;
    if (slot_ >= 0) {
        gWindows[slot_].begin.store(0);
        gWindows[slot_].end.store(0);
    }
    ::munmap(const_cast<std::uint8_t*>(map_), mapLength_);
    map_ = nullptr;
    mapLength_ = 0;
}

void InputFile::checkIntact() {
    if (slot_ < 0 || !gWindows[slot_].lost.load()) return;
    struct stat st {};
    const std::int64_t now = ::fstat(fd_, &st) == 0 ? st.st_size : 0;
    ended(std::min(now, size_));
}

InputFile::Block InputFile::nextBlock(std::uint8_t* buffer, std::size_t count) {
    if (mappable_) {
        checkIntact();
        const std::size_t n = available(count);
        if (n == 0) return {};
        const bool inWindow = map_ != nullptr && position_ >= mapStart_ &&
                              position_ + static_cast<std::int64_t>(n) <=
                                  mapStart_ + static_cast<std::int64_t>(mapLength_);
        if (inWindow || mapWindow(position_)) {
            const Block block{map_ + (position_ - mapStart_), n};
            position_ += static_cast<std::int64_t>(n);
            return block;
        }
    }
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd_, buffer + done, count - done, position_);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("Cannot read file", path_, errno);
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
        position_ += got;
    }
    if (done == 0 && position_ < size_) ended(position_);
    return {buffer, done};
}

std::size_t InputFile::readBlock(std::uint8_t* into, std::size_t count) {
    const Block block = nextBlock(into, count);
    if (block.size > 0 && block.data != into) std::memcpy(into, block.data, block.size);
    return block.size;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace strandis
