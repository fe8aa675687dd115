#include "common/Progress.h"

#include "common/TextFormat.h"

namespace strandis {

Progress::Progress(RunHost& host, std::string prefix)
    : host_(host), prefix_(std::move(prefix)), started_(std::chrono::steady_clock::now()) {}

void Progress::show(std::int64_t position, std::int64_t size) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    host_.slog(prefix_ + ProgressText(position, size, elapsed, host_.timeSeparator()), 1);
    host_.progress(position, size);
    host_.processPendingEvents();
}

}  // namespace strandis
