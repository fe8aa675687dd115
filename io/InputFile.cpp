#include "io/InputFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "common/RunError.h"
#include "io/WriteBehind.h"

namespace strandis {

namespace {

[[noreturn]] void fail(const char* what, const std::string& path, int error) {
    throw RunError(std::string(what) + " \"" + path + "\". " + std::strerror(error), path);
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
MappedWindow gWindows[16];
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

constexpr std::size_t kPack = UnitChooser::kPack;

struct Window {
    const std::uint8_t* data = nullptr;  // null: not mapped
    std::size_t length = 0;
    std::int64_t index = -1;
    int slot = -1;
};

// How a file's windows are mapped: their size, how many are mapped ahead of the one being
// read, and whether the kernel is asked to read what is missing in order and in huge pages.
struct WindowPlan {
    std::size_t bytes;
    std::size_t ahead;
    bool hinted;
};
// A pass that only reads (see InputFile::kWindow). What the kernel reads from the disk for a
// hinted window comes into the page cache in 2 MiB pieces, as read() leaves it, not in the
// 4 KiB pages read around each fault, which every later pass over the file would map page by
// page: a demux after a scan of a file read from disk maps the scanned part in large pieces.
constexpr WindowPlan kReading{InputFile::kWindow, 1, true};
// A pass that lends its blocks to a writing thread. Its windows are not hinted: while its
// outputs take new pages, a source read in huge pages was as often slower as faster cold.
constexpr WindowPlan kLending{InputFile::kLentWindow, 2, false};

Window MapWindow(int fd, std::int64_t size, const WindowPlan& plan, std::int64_t index) {
    Window window;
    window.index = index;
    const int slot = TakeWindowSlot();
    if (slot < 0) return window;
    const std::int64_t start = index * static_cast<std::int64_t>(plan.bytes);
    const auto length = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(plan.bytes), size - start));
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | (plan.hinted ? 0 : MAP_POPULATE),
                       fd, start);
    if (map == MAP_FAILED) {
        gWindows[slot].used.store(false);
        return window;
    }
    if (plan.hinted) {
        // Marked before it is filled, then filled here so that the reader finds it ready (a
        // kernel that cannot leaves the reader to fault the pages in; a page that cannot be read
        // is the bus-error handler's).
        ::madvise(map, length, MADV_HUGEPAGE);
        ::madvise(map, length, MADV_SEQUENTIAL);
        ::madvise(map, length, MADV_POPULATE_READ);
    }
    window.data = static_cast<const std::uint8_t*>(map);
    window.length = length;
    window.slot = slot;
    gWindows[slot].begin.store(reinterpret_cast<std::uintptr_t>(map));
    gWindows[slot].end.store(reinterpret_cast<std::uintptr_t>(map) + length);
    return window;
}

// Returns whether a page of the window vanished while it was mapped.
bool UnmapWindow(const Window& window) noexcept {
    if (window.data == nullptr) return false;
    MappedWindow& entry = gWindows[window.slot];
    entry.begin.store(0);
    entry.end.store(0);
    ::munmap(const_cast<std::uint8_t*>(window.data), window.length);
    const bool lost = entry.lost.load();
    entry.used.store(false);
    return lost;
}

}  // namespace

// Maps the windows of a file as `plan` says, in order, on a thread of its own, and unmaps those
// the reader is done with.
class InputFile::Mapper {
public:
    Mapper(int fd, std::int64_t size, const WindowPlan& plan)
        : fd_(fd),
          size_(size),
          plan_(plan),
          count_((size + static_cast<std::int64_t>(plan.bytes) - 1) /
                 static_cast<std::int64_t>(plan.bytes)),
          thread_([this] { run(); }) {}

    std::int64_t windowBytes() const { return static_cast<std::int64_t>(plan_.bytes); }

    ~Mapper() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
        UnmapWindow(current_);
        for (const Window& window : ready_)
            UnmapWindow(window);
        for (const Window& window : retired_)
            UnmapWindow(window);
    }

    // Window `index`, asked for in order; null when it cannot be mapped.
    const Window* window(std::int64_t index) {
        if (current_.index == index) return &current_;
        if (index != received_) return nullptr;
        std::unique_lock lock(mutex_);
        if (current_.data != nullptr) retired_.push_back(current_);
        current_ = Window{};
        cv_.notify_all();
        cv_.wait(lock, [this] { return failed_ || !ready_.empty(); });
        if (ready_.empty()) return nullptr;
        current_ = ready_.front();
        ready_.pop_front();
        ++received_;
        cv_.notify_all();
        return &current_;
    }

    bool failed() {
        const std::lock_guard lock(mutex_);
        return failed_ && ready_.empty();
    }

    // Windows below `index` that the reader is done with may go; those from it on stay mapped
    // when the reader leaves them (their bytes are lent).
    void releaseBelow(std::int64_t index) {
        bool wake = false;
        {
            const std::lock_guard lock(mutex_);
            if (index == releasedBelow_) return;
            releasedBelow_ = index;
            for (const Window& window : retired_)
                wake = wake || window.index < index;
        }
        if (wake) cv_.notify_all();
    }

    // The index of the window being read when `data` lies in it; -1 otherwise.
    std::int64_t holding(const std::uint8_t* data) const {
        return data >= current_.data && data < current_.data + current_.length ? current_.index
                                                                               : -1;
    }

    // Whether `data` lies in the window being read, and so do the `count` bytes at `position`.
    bool keeps(const std::uint8_t* data, std::int64_t position, std::size_t count) const {
        return holding(data) >= 0 && position / windowBytes() == current_.index &&
               static_cast<std::size_t>(position % windowBytes()) + count <= current_.length;
    }

    // Whether a page vanished under any window read so far.
    bool lost() const {
        return lost_.load() || (current_.slot >= 0 && gWindows[current_.slot].lost.load());
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            const auto done =
                std::find_if(retired_.begin(), retired_.end(),
                             [this](const Window& w) { return w.index < releasedBelow_; });
            if (done != retired_.end()) {
                const Window window = *done;
                retired_.erase(done);
                lock.unlock();
                if (UnmapWindow(window)) lost_.store(true);
                lock.lock();
            } else if (!failed_ && ready_.size() < plan_.ahead && next_ < count_) {
                const std::int64_t index = next_++;
                lock.unlock();
                const Window window = MapWindow(fd_, size_, plan_, index);
                lock.lock();
                if (window.data == nullptr) {
                    failed_ = true;
                } else {
                    ready_.push_back(window);
                }
                cv_.notify_all();
            } else {
                cv_.wait(lock);
            }
        }
    }

    const int fd_;
    const std::int64_t size_;
    const WindowPlan plan_;
    const std::int64_t count_;  // windows in the file
    Window current_;            // the reader's
    std::int64_t received_ = 0;
    std::atomic<bool> lost_{false};
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Window> ready_;
    std::vector<Window> retired_;
    std::int64_t next_ = 0;
    std::int64_t releasedBelow_ = INT64_MAX;
    bool failed_ = false;
    bool stop_ = false;
    std::thread thread_;  // last: it starts once the rest is in place
};

// The blocks lent to a WriteBehind, and the buffers of those that are not read in place.
struct InputFile::Loans {
    // Blocks whose writes may still go on while the next is read: enough for the writing
    // thread to work beside the scan.
    static constexpr std::size_t kDepth = 8;

    struct Lent {
        std::uint64_t ticket = 0;  // after which its bytes are no longer read
        std::int64_t window = -1;  // the mapped window it lies in
        int buffer = -1;           // or the buffer
    };

    Loans(WriteBehind& behind, std::size_t blockSize) : behind(behind), blockSize(blockSize) {
        for (auto& buffer : buffers)
            buffer.reset(new std::uint8_t[blockSize]);
    }

    // A buffer that no lent block is in: there are more buffers than loans waited for.
    int freeBuffer() const {
        int k = 0;
        while (
            std::any_of(ended.begin(), ended.end(), [k](const Lent& l) { return l.buffer == k; }))
            ++k;
        return k;
    }

    // The buffer that `data` lies in; -1: none.
    int bufferOf(const std::uint8_t* data) const {
        for (std::size_t k = 0; k < buffers.size(); ++k) {
            if (data >= buffers[k].get() && data < buffers[k].get() + blockSize)
                return static_cast<int>(k);
        }
        return -1;
    }

    // The first window that a lent block may still be read from; none: INT64_MAX.
    std::int64_t firstWindow() const {
        std::int64_t first = INT64_MAX;
        for (const Lent& l : ended) {
            if (l.window >= 0) first = std::min(first, l.window);
        }
        return first;
    }

    WriteBehind& behind;
    const std::size_t blockSize;
    std::array<std::unique_ptr<std::uint8_t[]>, kDepth + 1> buffers;
    std::deque<Lent> ended;  // loans ended, oldest first, whose writes may go on
    std::optional<Lent> current;
};

InputFile::InputFile() = default;

InputFile::~InputFile() {
    close();
}

void InputFile::lendTo(WriteBehind* behind, std::size_t blockSize) {
    endLoan(true);
    loans_.reset();
    if (behind == nullptr) return;
    // Lending only saves copies: with too little memory for its buffers, the blocks are copied.
    try {
        loans_ = std::make_unique<Loans>(*behind, blockSize);
    } catch (const std::bad_alloc&) {
        loans_.reset();
    }
}

void InputFile::endLoan(bool all) noexcept {
    if (!loans_) return;
    Loans& loans = *loans_;
    if (loans.current) {
        loans.current->ticket = loans.behind.endLoan();
        loans.ended.push_back(*loans.current);
        loans.current.reset();
    }
    // When the writes lag kDepth blocks behind, wait until half of them are done: one wait for
    // many blocks, rather than a sleep and a wake-up for each.
    if (!loans.ended.empty() && (all || loans.ended.size() >= Loans::kDepth)) {
        const std::size_t done = all ? loans.ended.size() : loans.ended.size() - Loans::kDepth / 2;
        loans.behind.wait(loans.ended[done - 1].ticket);
        loans.ended.erase(loans.ended.begin(),
                          loans.ended.begin() + static_cast<std::ptrdiff_t>(done));
    }
    if (mapper_) mapper_->releaseBelow(loans.firstWindow());
}

// Opens `path` into fd_, refusing what is not a regular file; returns its size.
std::int64_t InputFile::openDescriptor(const std::string& path) {
    // Without blocking: opening a named pipe would otherwise wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) fail("Cannot open file", path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int error = errno;
        ::close(fd);
        fail("Cannot open file", path, error);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        fail("Cannot open file", path, EISDIR);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw RunError("Cannot open file \"" + path +
                           "\". It is not a regular file (a pipe, a device or a socket).",
                       path);
    }
    // Files of /proc and the like say they hold nothing and then give data.
    std::uint8_t probe = 0;
    if (st.st_size == 0 && ::pread(fd, &probe, 1, 0) > 0) {
        ::close(fd);
        throw RunError(
            "Cannot open file \"" + path +
                "\". Its size is not known (it says 0 bytes but holds data); copy it into "
                "a regular file first.",
            path);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    fd_ = fd;
    path_ = path;
    return st.st_size;
}

void InputFile::open(const std::string& path) {
    close();
    size_ = openDescriptor(path);
    fileSize_ = size_;
    units_.newFile();
    position_ = 0;
    if (size_ > 0) {
        // Without a thread for the mapping (a low limit on threads or memory), the file is read
        // on the run's own thread.
        try {
            mapper_ = std::make_unique<Mapper>(fd_, size_, loans_ ? kLending : kReading);
        } catch (const std::system_error&) {
            mapper_.reset();
        }
    }
}

void InputFile::open(const std::vector<InputExtent>& extents) {
    close();
    std::int64_t total = 0;
    for (const InputExtent& extent : extents)
        total += extent.length;
    if (extents.empty()) throw RunError("Nothing to read: the source has no pieces.");
    extents_ = extents;
    extent_ = 0;
    extentStart_ = 0;
    units_.newPiece();
    openExtent(0);
    size_ = total;
    position_ = 0;
}

// Opens the file of piece `index` unless it is the one open, and checks that it holds the piece.
void InputFile::openExtent(std::size_t index) {
    const InputExtent& extent = extents_[index];
    if (fd_ >= 0 && extent.path == path_) return;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    const std::int64_t size = openDescriptor(extent.path);
    fileSize_ = size;
    units_.newFile();
    if (size < extent.offset + extent.length) {
        throw RunError("Cannot read file \"" + extent.path + "\". It ended after " +
                           std::to_string(size) + " of " +
                           std::to_string(extent.offset + extent.length) + " bytes.",
                       extent.path);
    }
}

std::size_t InputFile::readExtents(std::uint8_t* into, std::size_t count) {
    std::size_t done = 0;
    while (done < count && position_ < size_) {
        const InputExtent* extent = &extents_[extent_];
        std::int64_t inside = position_ - extentStart_;
        if (inside >= extent->length) {
            extentStart_ += extent->length;
            openExtent(++extent_);
            units_.newPiece();
            continue;
        }
        auto want = static_cast<std::size_t>(std::min<std::int64_t>(
            extent->length - inside, static_cast<std::int64_t>(count - done)));
        const bool filtered = extent->cellId != 0;
        if (filtered) {
            want -= want % kPack;  // whole packs, to be judged unit by unit
            if (want == 0 && extent->length - inside < static_cast<std::int64_t>(kPack)) {
                position_ += extent->length - inside;  // no whole pack left in the piece
                continue;
            }
            if (want == 0) break;  // the block is full to the last whole pack
        }
        ssize_t got = ::pread(fd_, into + done, want, extent->offset + inside);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("Cannot read file", path_, errno);
        }
        if (got == 0) {
            throw RunError("Cannot read file \"" + path_ + "\". It ended after " +
                               std::to_string(extent->offset + inside) + " of " +
                               std::to_string(extent->offset + extent->length) + " bytes.",
                           path_);
        }
        // A short read's part of a pack is read again.
        if (filtered) got -= got % static_cast<ssize_t>(kPack);
        position_ += got;
        // Only the units whose navigation pack names this cell, in an interleaved one; what
        // the navigation packs of every piece say is checked.
        const auto length = static_cast<std::size_t>(got);
        if (units_.judge(into + done, length, path_, extent->offset + inside, fileSize_,
                         extent->vobId, extent->cellId) == 0)
            done += length;
        else
            done += units_.compact(into + done, length, into + done);
    }
    return done;
}

void InputFile::close() noexcept {
    endLoan(true);    // what is lent is written before it goes
    mapper_.reset();  // before the descriptor it maps from
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    position_ = 0;
    extents_.clear();
    extent_ = 0;
    extentStart_ = 0;
    pending_ = {};
}

void InputFile::ended(std::int64_t after) {
    throw RunError("Cannot read file \"" + path_ + "\". It ended after " + std::to_string(after) +
                       " of " + std::to_string(size_) + " bytes.",
                   path_);
}

// Up to `count` bytes at the position that the file still holds.
std::size_t InputFile::available(std::size_t count) {
    std::int64_t end = size_;
    struct stat st {};
    if (::fstat(fd_, &st) == 0) end = std::min<std::int64_t>(end, st.st_size);
    if (position_ >= end) {
        if (position_ < size_) ended(end);
        return 0;
    }
    return static_cast<std::size_t>(
        std::min<std::int64_t>(end - position_, static_cast<std::int64_t>(count)));
}

void InputFile::checkIntact() {
    if (!extents_.empty()) return;  // pieces are read, not mapped: a short read has said so
    // A file cut inside the last page of a mapping raises no bus error: the kernel reads the
    // rest of that page as zeros. Its size tells.
    struct stat st {};
    const std::int64_t now = ::fstat(fd_, &st) == 0 ? st.st_size : size_;
    if (now >= size_ && !(mapper_ && mapper_->lost())) return;
    ended(std::min({now, size_, position_}));
}

bool InputFile::keepsLastBlock(std::size_t count) const {
    if (position_ >= size_) return true;
    if (!mapper_ || loans_ || !extents_.empty() || units_.guessedAngle() != 0) return false;
    return mapper_->keeps(last_, position_,
                          static_cast<std::size_t>(std::min<std::int64_t>(
                              static_cast<std::int64_t>(count), size_ - position_)));
}

InputFile::Block InputFile::nextBlock(std::uint8_t* buffer, std::size_t count) {
    if (!loans_) {
        const Block block = readNext(buffer, count);
        last_ = block.data;
        return block;
    }
    endLoan(false);
    Loans& loans = *loans_;
    const int free = loans.freeBuffer();
    std::uint8_t* own = loans.buffers[static_cast<std::size_t>(free)].get();
    const Block block = readNext(own, std::min(count, loans.blockSize));
    if (block.size > 0) {
        loans.behind.lend(block.data, block.size);
        loans.current =
            Loans::Lent{0, mapper_ ? mapper_->holding(block.data) : -1, loans.bufferOf(block.data)};
    }
    return block;
}

InputFile::Block InputFile::readNext(std::uint8_t* buffer, std::size_t count) {
    if (!extents_.empty()) return {buffer, readExtents(buffer, count)};
    if (units_.guessedAngle() == 0) return nextWhole(buffer, count);
    // A lone VOB read for one angle: the blocks less the units of the other angles, handed out
    // run of kept packs by run where they lie (the runs are whole units, seldom short).
    for (;;) {
        if (pending_.data != nullptr) return keptRun();
        const std::int64_t start = position_;
        const Block block = nextWhole(buffer, count);
        if (block.size == 0 || start % kPack != 0) return block;
        const std::size_t whole = block.size - block.size % kPack;
        if (units_.judge(block.data, whole, path_, start, size_, 0, 0) == 0) return block;
        const auto run = units_.keptRun(0);
        if (run.first * kPack < whole || units_.keeping())
            pending_ = {block.data, block.size, whole, start, run};
    }
}

// The next run of kept packs of the pending block; its position is where that run ends, or the
// block's end after its last run.
InputFile::Block InputFile::keptRun() {
    const auto [first, end] = pending_.run;
    std::size_t from = first * kPack;
    std::size_t to = end * kPack;
    // A last part of a pack is its unit's.
    if (from >= pending_.whole) from = pending_.whole;
    if (to >= pending_.whole) to = units_.keeping() ? pending_.size : pending_.whole;
    const Block run{pending_.data + from, to - from};
    pending_.run = units_.keptRun(end);
    const bool last = to == pending_.size || pending_.run.first * kPack >= pending_.whole;
    position_ = pending_.start + static_cast<std::int64_t>(last ? pending_.size : to);
    if (last) pending_ = {};
    return run;
}

InputFile::Block InputFile::nextWhole(std::uint8_t* buffer, std::size_t count) {
    if (mapper_) {
        if (mapper_->lost()) checkIntact();
        const std::size_t n = available(count);
        if (n == 0) return {};
        const std::int64_t index = position_ / mapper_->windowBytes();
        const auto offset = static_cast<std::size_t>(position_ % mapper_->windowBytes());
        if (const Window* window = mapper_->window(index)) {
            if (offset + n <= window->length) {
                position_ += static_cast<std::int64_t>(n);
                return {window->data + offset, n};
            }
            // A block across two windows is put together in the buffer.
            const std::size_t part = window->length - offset;
            std::memcpy(buffer, window->data + offset, part);
            if (const Window* following = mapper_->window(index + 1)) {
                std::memcpy(buffer + part, following->data, n - part);
                position_ += static_cast<std::int64_t>(n);
                return {buffer, n};
            }
        }
        if (mapper_->failed()) {
            endLoan(true);  // the windows go with the mapper
            mapper_.reset();
        }
    }
    const std::size_t done = readAt(buffer, count);
    if (done == 0 && position_ < size_) ended(position_);
    return {buffer, done};
}

std::size_t InputFile::readAt(std::uint8_t* into, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd_, into + done, count - done, position_);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("Cannot read file", path_, errno);
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
        position_ += got;
    }
    return done;
}

std::size_t InputFile::readBlock(std::uint8_t* into, std::size_t count) {
    const Block block = nextBlock(into, count);
    if (block.size > 0 && block.data != into) std::memcpy(into, block.data, block.size);
    return block.size;
}

}  // namespace strandis
