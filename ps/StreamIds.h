#pragma once

#include <array>
#include <cstdint>

namespace strandis {

// The stream inventory: 64 slots, -1 where no stream was found.
//   video       slots 0..15 (only 0 and 1 are filled): PES stream id 0xE0-0xE3 or the VC-1
//               stream_id_extension 0x55/0x56
//   audio       slots 0..15: private-stream-1 sub-stream id
//   subpicture  slots 0..31 (boxes for 0..15 only): sub-stream id 0x20-0x3F or 0x60-0x7F
// The ranges and their slot rules are those of kIdRanges (StreamIdTable.h).
struct StreamInventory {
    static constexpr int kVideoSlots = 16;
    static constexpr int kAudioSlots = 16;
    static constexpr int kSubSlots = 32;
    static constexpr int kAudioBase = kVideoSlots;
    static constexpr int kSubBase = kAudioBase + kAudioSlots;

    std::array<std::int32_t, 64> ids;
    // Audio slots of the Dolby Digital Plus range whose first frame is plain Dolby Digital.
    std::array<bool, kAudioSlots> plainAc3{};

    StreamInventory() { clear(); }
    void clear() {
        ids.fill(-1);
        plainAc3.fill(false);
    }

    std::int32_t& video(int slot) { return ids[slot]; }
    std::int32_t& audio(int slot) { return ids[kAudioBase + slot]; }
    std::int32_t& sub(int slot) { return ids[kSubBase + slot]; }
    std::int32_t video(int slot) const { return ids[slot]; }
    std::int32_t audio(int slot) const { return ids[kAudioBase + slot]; }
    std::int32_t sub(int slot) const { return ids[kSubBase + slot]; }
};

}  // namespace strandis
