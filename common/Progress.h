#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "common/RunHost.h"

namespace strandis {

inline constexpr std::int64_t kProgressStep = 0x400000;  // 4 MiB

// The progress line of a pass, shown in status panel 1 every 4 MiB of input, when the front end
// also gets to handle its events (the only moment a Cancel can arrive).
class Progress {
public:
    // `prefix` comes before the line ("Rebuilding FEATURE_1.EVO "); the clock starts now.
    explicit Progress(RunHost& host, std::string prefix = {});
    // Called after each read with the position reached.
    void at(std::int64_t position, std::int64_t size) {
        if (position % kProgressStep == 0) show(position, size);
    }

private:
    void show(std::int64_t position, std::int64_t size);

    RunHost& host_;
    std::string prefix_;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace strandis
