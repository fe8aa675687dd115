#include "io/Navigation.h"

#include <algorithm>
#include <cstring>
#include <tuple>

namespace strandis {

namespace {

constexpr std::size_t kPack = UnitChooser::kPack;
constexpr std::size_t kDsiBytes = 44;  // of the DSI data, up to the seamless category
constexpr int kMostNotes = 20;

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

std::string CellName(std::uint32_t id) {
    return "VOB " + std::to_string(id >> 8) + " cell " + std::to_string(id & 0xFF);
}

}  // namespace

std::optional<NavPack> ReadNavPack(const std::uint8_t* u) {
    if (u[0] != 0x00 || u[1] != 0x00 || u[2] != 0x01 || u[3] != 0xBA) return std::nullopt;
    // The packets behind the pack header: a navigation pack's are a system header, a PCI packet
    // and a DSI packet (private stream 2, sub-stream 0 and 1).
    std::size_t p = 14 + (u[13] & 7);
    while (p + 7 < kPack && u[p] == 0x00 && u[p + 1] == 0x00 && u[p + 2] == 0x01) {
        const std::size_t size = 6 + (std::size_t{u[p + 4]} << 8 | u[p + 5]);
        if (u[p + 3] == 0xBF && u[p + 6] == 0x01) {
            if (size < 7 + kDsiBytes || p + 7 + kDsiBytes > kPack) return std::nullopt;
            const std::uint8_t* dsi = u + p + 7;
            NavPack nav;
            nav.lastSector = std::uint32_t{dsi[8]} << 24 | std::uint32_t{dsi[9]} << 16 |
                             std::uint32_t{dsi[10]} << 8 | dsi[11];
            nav.vobId = dsi[24] << 8 | dsi[25];
            nav.cellId = dsi[27];
            nav.interleaved = (dsi[32] & 0x40) != 0;
            return nav;
        }
        if (u[p + 3] != 0xBB && u[p + 3] != 0xBF) return std::nullopt;  // a stream's packet
        p += size;
    }
    return std::nullopt;
}

void UnitChooser::guessAngle(int angle) {
    angle_ = angle;
    keep_ = true;
    pastEnd_.clear();
    notes_ = 0;
    blockIds_.clear();
    blockStart_ = -1;
    blockSaid_ = false;
}

std::size_t UnitChooser::judge(const std::uint8_t* packs, std::size_t length,
                               const std::string& file, std::int64_t offset, std::int64_t fileSize,
                               int vob, int cell) {
    const std::size_t count = length / kPack;
    verdicts_.assign(count, 1);  // no allocation once it has held a block's packs
    std::size_t dropped = 0;
    constexpr std::size_t kAhead = 16;  // packs: the page cache's latency hidden
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint8_t* pack = packs + k * kPack;
        if (k + kAhead < count) __builtin_prefetch(pack + kAhead * kPack);
        if (pack[3] == 0xBA && pack[14 + (pack[13] & 7) + 3] == 0xBB) {
            if (const std::optional<NavPack> nav = ReadNavPack(pack)) {
                const std::int64_t at = offset + static_cast<std::int64_t>(k * kPack);
                if (!pastEnd_.empty()) note(pastEnd_);  // a unit of the file followed it
                pastEnd_.clear();
                const std::int64_t end =
                    at + (std::int64_t{nav->lastSector} + 1) * static_cast<std::int64_t>(kPack);
                if (end > fileSize) {
                    pastEnd_ = "Navigation pack at byte " + std::to_string(at) + " of " +
                               Quoted(file) + " says its unit ends at byte " + std::to_string(end) +
                               ", past the end of the file (" + std::to_string(fileSize) +
                               " bytes); the unit is read up to the next navigation pack.";
                }
                keep_ = keepUnit(*nav, file, at, vob, cell);
            }
        }
        verdicts_[k] = keep_ ? 1 : 0;
        dropped += keep_ ? 0 : 1;
    }
    return dropped;
}

std::pair<std::size_t, std::size_t> UnitChooser::keptRun(std::size_t from) const {
    const std::size_t count = verdicts_.size();
    while (from < count && verdicts_[from] == 0)
        ++from;
    std::size_t end = from;
    while (end < count && verdicts_[end] != 0)
        ++end;
    return {from, end};
}

std::size_t UnitChooser::compact(const std::uint8_t* packs, std::size_t length,
                                 std::uint8_t* into) const {
    std::size_t kept = 0;
    const std::size_t count = std::min(verdicts_.size(), length / kPack);
    // Runs of kept packs move at once.
    for (auto [first, end] = keptRun(0); first < count; std::tie(first, end) = keptRun(end)) {
        const std::size_t bytes = (std::min(end, count) - first) * kPack;
        if (into + kept != packs + first * kPack)
            std::memmove(into + kept, packs + first * kPack, bytes);
        kept += bytes;
    }
    return kept;
}

bool UnitChooser::keepUnit(const NavPack& nav, const std::string& file, std::int64_t at, int vob,
                           int cell) {
    const std::uint32_t id = static_cast<std::uint32_t>(nav.vobId) << 8 | nav.cellId;
    if (cell != 0) {
        if (nav.vobId == vob && nav.cellId == cell) return true;
        if (!known_.empty() && std::find(known_.begin(), known_.end(), id) == known_.end()) {
            note("Navigation pack at byte " + std::to_string(at) + " of " + Quoted(file) +
                 " names " + CellName(id) +
                 ", which no program chain of the title set has: its unit is left out.");
        }
        return false;
    }
    if (angle_ == 0) return true;
    if (!nav.interleaved) {
        if (blockStart_ >= 0 && !blockSaid_) sayBlock();
        blockStart_ = -1;
        return true;
    }
    if (blockStart_ < 0) {
        blockStart_ = at;
        blockFile_ = file;
        blockIds_.clear();
        blockSaid_ = false;
    }
    auto found = std::find(blockIds_.begin(), blockIds_.end(), id);
    if (found == blockIds_.end()) {
        blockIds_.push_back(id);
        found = blockIds_.end() - 1;
    } else if (found == blockIds_.begin() && !blockSaid_) {
        sayBlock();  // the first angle again: the block's angles have all come
    }
    return found - blockIds_.begin() + 1 == angle_;
}

void UnitChooser::sayBlock() {
    blockSaid_ = true;
    if (!log_) return;
    std::string cells;
    for (const std::uint32_t id : blockIds_)
        cells += (cells.empty() ? "" : ", ") + CellName(id);
    const auto angles = static_cast<int>(blockIds_.size());
    log_("Interleaved units from byte " + std::to_string(blockStart_) + " of " +
         Quoted(blockFile_) + ": " + std::to_string(angles) + (angles == 1 ? " angle" : " angles") +
         " (" + cells + "), numbered in the order they come, a guess without the disc's IFO: " +
         (angle_ <= angles
              ? "angle " + std::to_string(angle_) + " is read."
              : "there is no angle " + std::to_string(angle_) + ", so none of them is read."));
}

void UnitChooser::note(const std::string& line) {
    if (!log_) return;
    if (notes_ < kMostNotes) log_(line);
    if (notes_ == kMostNotes) log_("Further navigation problems of the source are not named.");
    ++notes_;
}

}  // namespace strandis
