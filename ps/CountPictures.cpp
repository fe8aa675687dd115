#include "ps/CountPictures.h"

#include <sched.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define STRANDIS_X86 1
#endif

namespace strandis {

namespace {

// The two start codes whose zeros lie in front of the chunk: 01 <code> and 00 01 <code> at its
// start.
std::int32_t CountAtStart(const std::uint8_t* data, std::size_t length, std::uint8_t code) {
    std::int32_t count = data[0] == 0x01 && data[1] == code ? 1 : 0;
    if (length >= 3 && data[0] == 0x00 && data[1] == 0x01 && data[2] == code) ++count;
    return count;
}

// Start codes 00 00 01 <code> from `p` on that lie wholly inside the chunk, looking for the 01
// byte of each and checking its neighbours.
std::int32_t CountWhole(const std::uint8_t* data, std::size_t length, std::size_t p,
                        std::uint8_t code) {
    std::int32_t count = 0;
    const std::uint8_t* at = data + p + 2;         // where the 01 byte would stand
    const std::uint8_t* last = data + length - 1;  // the 01 byte needs its code byte behind it
    while (at < last) {
        at = static_cast<const std::uint8_t*>(
            std::memchr(at, 0x01, static_cast<std::size_t>(last - at)));
        if (at == nullptr) break;
        if (at[1] == code && at[-1] == 0x00 && at[-2] == 0x00) ++count;
        ++at;
    }
    return count;
}

#if defined(STRANDIS_X86)
__attribute__((target("avx2"))) inline __m256i Load(const std::uint8_t* at) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// Thirty-two places at a time: a bit for each p with 00 00 01 <code> at p, counted whole; the
// last few places are left to CountWhole.
__attribute__((target("avx2,popcnt"))) std::int32_t CountWideAvx2(const std::uint8_t* data,
                                                                  std::size_t length,
                                                                  std::uint8_t code) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi8(1);
    const __m256i wanted = _mm256_set1_epi8(static_cast<char>(code));
    std::int32_t count = 0;
    std::size_t p = 0;
    for (; p + 32 + 3 <= length; p += 32) {
        const __m256i found =
            _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(Load(data + p), zero),
                                              _mm256_cmpeq_epi8(Load(data + p + 1), zero)),
                             _mm256_and_si256(_mm256_cmpeq_epi8(Load(data + p + 2), one),
                                              _mm256_cmpeq_epi8(Load(data + p + 3), wanted)));
        count += _mm_popcnt_u32(static_cast<unsigned>(_mm256_movemask_epi8(found)));
    }
    return count + CountWhole(data, length, p, code);
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    return has;
}
#endif

}  // namespace

std::int32_t CountPicturesPlain(const std::uint8_t* data, std::size_t length,
                                std::uint8_t videoType) {
    if (videoType > 2 || length < 2) return 0;
    const std::uint8_t code = kPictureCode[videoType];
    return CountAtStart(data, length, code) + CountWhole(data, length, 0, code);
}

std::int32_t CountPictures(const std::uint8_t* data, std::size_t length, std::uint8_t videoType) {
#if defined(STRANDIS_X86)
    if (videoType <= 2 && length >= 2 && HasAvx2()) {
        const std::uint8_t code = kPictureCode[videoType];
        return CountAtStart(data, length, code) + CountWideAvx2(data, length, code);
    }
#endif
    return CountPicturesPlain(data, length, videoType);
}

namespace {

void Relax() {
#if defined(STRANDIS_X86)
    _mm_pause();
#endif
}

// Pauses the caller waits for the chunks the thread is counting before it gives up its
// processor: some tens of microseconds, a few times what the thread needs for them.
constexpr int kSpins = 2000;

// The processors this process may run on.
int Processors() {
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return CPU_COUNT(&set);
}

}  // namespace

PictureCounter::PictureCounter() {
    if (Processors() < 2) return;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
    }
}

PictureCounter::~PictureCounter() {
    if (!thread_.joinable()) return;
    published_.fetch_or(kStop);
    published_.notify_one();
    thread_.join();
}

void PictureCounter::add(const std::uint8_t* data, std::size_t length, std::uint8_t videoType,
                         int slot) {
    if (!thread_.joinable()) {
        here_[static_cast<std::size_t>(slot)] += CountPictures(data, length, videoType);
        return;
    }
    if (posted_ - settledAt_ == kJobs) settle();  // the ring is full
    jobs_[posted_ % kJobs] = {data, static_cast<std::uint32_t>(length), videoType,
                              static_cast<std::uint8_t>(slot)};
    if (++posted_ - publishedHere_ >= kHandOver) publish();
}

void PictureCounter::publish(bool wake) {
    publishedHere_ = posted_;
    published_.store(publishedHere_);
    if (wake && sleeping_.load()) published_.notify_one();
}

std::uint64_t PictureCounter::takeAndCount(std::array<std::int64_t, 2>& into) {
    std::uint64_t from = taken_.load(std::memory_order_relaxed);
    std::uint64_t to = 0;
    do {
        const std::uint64_t handed = published_.load(std::memory_order_acquire) & ~kStop;
        if (from >= handed) return 0;
        to = std::min(from + kTake, handed);
    } while (!taken_.compare_exchange_weak(from, to, std::memory_order_acq_rel,
                                           std::memory_order_relaxed));
    for (std::uint64_t k = from; k != to; ++k) {
        const Job& job = jobs_[k % kJobs];
        into[job.slot] += CountPictures(job.data, job.length, job.videoType);
    }
    return to - from;
}

void PictureCounter::settle() {
    if (!thread_.joinable()) return;
    publish(false);  // the caller takes what is left: a sleeping thread would find nothing
    while (const std::uint64_t taken = takeAndCount(here_))
        countedHere_ += taken;
    // Every chunk is taken: wait for the few the thread is counting.
    for (int spin = 0; countedHere_ + countedThere_.load(std::memory_order_acquire) != posted_;
         ++spin) {
        if (spin < kSpins) {
            Relax();
        } else {
            std::this_thread::yield();
        }
    }
    settledAt_ = posted_;
}

std::array<std::int64_t, 2> PictureCounter::counts() const {
    return {here_[0] + there_[0], here_[1] + there_[1]};
}

void PictureCounter::run() {
    for (;;) {
        const std::uint64_t handed = published_.load();
        if ((handed & kStop) != 0) return;
        if (const std::uint64_t taken = takeAndCount(there_)) {
            countedThere_.fetch_add(taken, std::memory_order_release);
            continue;
        }
        // Asleep until more is handed over: the caller wakes the thread once it sees the flag,
        // or the wait sees the chunks handed over in between.
        sleeping_.store(true);
        if (taken_.load() >= published_.load()) published_.wait(handed);
        sleeping_.store(false);
    }
}

}  // namespace strandis
