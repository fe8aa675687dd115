#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace strandis {

// Picture start codes by VideoType: MPEG-2 picture_start_code, H.264 access unit delimiter,
// VC-1 frame start code.
inline constexpr std::uint8_t kPictureCode[3] = {0x00, 0x09, 0x0D};

// Counts the start codes 00 00 01 <code> of `videoType` in one payload chunk. Each chunk is
// counted on its own, as if it were preceded by zero bytes: a chunk that opens with 01 <code>
// or 00 01 <code> counts one, whatever ended the previous chunk.
// Uses the processor's 256-bit vector instructions where it has them.
std::int32_t CountPictures(const std::uint8_t* data, std::size_t length, std::uint8_t videoType);
// The same count without vector instructions.
std::int32_t CountPicturesPlain(const std::uint8_t* data, std::size_t length,
                                std::uint8_t videoType);

// Counts the pictures of payload chunks on a thread of its own while the scan goes on, for a
// pass that writes nothing: counting reads every byte of the video, and on a machine with a
// second processor free that reading runs beside the rest of the scan. Chunks are handed over
// a few hundred at a time, and the thread takes them a few at a time; what it has not taken
// when the caller settles, the caller counts itself, so that the caller waits at most for the
// few chunks the thread is counting, and a thread that gets no processor costs little. A
// chunk's bytes must stay where they are until settle() returns. With a single processor to
// run on (or no thread), the caller counts every chunk.
class PictureCounter {
public:
    PictureCounter();
    ~PictureCounter();
    PictureCounter(const PictureCounter&) = delete;
    PictureCounter& operator=(const PictureCounter&) = delete;

    // Counts the chunk's pictures toward video slot `slot` (0 or 1).
    void add(const std::uint8_t* data, std::size_t length, std::uint8_t videoType, int slot);
    // Returns once every chunk added is counted.
    void settle();
    // The pictures counted by slot; after settle().
    std::array<std::int64_t, 2> counts() const;

private:
    struct Job {
        const std::uint8_t* data;
        std::uint32_t length;
        std::uint8_t videoType;
        std::uint8_t slot;
    };
    static constexpr std::uint64_t kJobs = 8192;     // chunks between two settles, at most
    static constexpr std::uint64_t kHandOver = 256;  // chunks handed over at a time
    static constexpr std::uint64_t kTake = 16;       // chunks taken at a time
    static constexpr std::uint64_t kStop = std::uint64_t{1} << 63;

    // Hands the chunks added over; with `wake`, wakes the thread if it sleeps.
    void publish(bool wake = true);
    // Takes up to kTake of the chunks handed over and counts them into `into`; returns how
    // many it took (0: none is left).
    std::uint64_t takeAndCount(std::array<std::int64_t, 2>& into);
    void run();

    std::array<Job, kJobs> jobs_{};
    // The caller's own.
    std::uint64_t posted_ = 0;         // chunks added
    std::uint64_t publishedHere_ = 0;  // of them, handed over
    std::uint64_t settledAt_ = 0;      // all chunks before it are counted
    std::uint64_t countedHere_ = 0;    // chunks the caller took and counted
    std::array<std::int64_t, 2> here_{};
    // Shared, each on a cache line of its own.
    alignas(64) std::atomic<std::uint64_t> published_{0};     // publishedHere_, kStop at the end
    std::atomic<bool> sleeping_{false};                       // the thread waits for chunks
    alignas(64) std::atomic<std::uint64_t> taken_{0};         // chunks taken, by either side
    alignas(64) std::atomic<std::uint64_t> countedThere_{0};  // chunks the thread counted
    std::array<std::int64_t, 2> there_{};                     // the thread's counts
    alignas(64) std::thread thread_;  // last: it starts once the rest is in place
};

}  // namespace strandis
