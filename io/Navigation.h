#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace strandis {

// What a DVD unit's navigation pack says that choosing units needs: the VOB and cell id of its
// DSI packet (private stream 2, sub-stream 1), whether the unit is one of an interleaved block
// (an angle block, seamless branching), and its last sector, counted from the pack.
struct NavPack {
    int vobId = 0;
    int cellId = 0;
    bool interleaved = false;
    std::uint32_t lastSector = 0;
};

// The navigation pack of the 2,048-byte pack at `pack`, if it is one.
std::optional<NavPack> ReadNavPack(const std::uint8_t* pack);

// Chooses, unit by unit, which packs of a DVD source a run reads. A unit is the packs from one
// navigation pack to the next; what its navigation pack names decides for all of them:
//  - in a cell whose units are interleaved with others' (an angle block), the cell's own;
//  - in a lone VOB read whole, with an angle asked for, the units of that angle of each
//    interleaved block, the angles told apart by their VOB and cell ids in the order they come
//    (a guess: only the disc's IFO numbers them), and every unit outside such blocks.
// What looks damaged is logged with the pack's place: a unit naming a cell that no program chain
// of the title set has, a unit ending past the end of its file (its file's last unit may go on
// into the title set's next VOB part).
class UnitChooser {
public:
    using Log = std::function<void(const std::string&)>;
    static constexpr std::size_t kPack = 2048;

    void setLog(Log log) { log_ = std::move(log); }
    // The (vob << 8 | cell) ids of every cell of the title set; none: nothing is checked.
    void setKnownCells(std::vector<std::uint32_t> cells) { known_ = std::move(cells); }
    // Angle `angle` of a lone VOB's interleaved blocks; 0 reads every unit. Starts afresh.
    void guessAngle(int angle);
    int guessedAngle() const { return angle_; }
    // Whether the unit being read is kept.
    bool keeping() const { return keep_; }
    // A new file: what its last unit said of its end no longer counts.
    void newFile() { pastEnd_.clear(); }
    // A new piece of a title: its first packs are read until a navigation pack says otherwise.
    void newPiece() { keep_ = true; }

    // Judges the whole packs of `packs`, read at byte `offset` of `file` (of `fileSize` bytes),
    // for the cell (vob, cell) or, with 0, by the angle asked for; returns how many it drops.
    std::size_t judge(const std::uint8_t* packs, std::size_t length, const std::string& file,
                      std::int64_t offset, std::int64_t fileSize, int vob, int cell);
    // Copies the packs judged last that are kept to `into` (which may be `packs`), in order;
    // returns their bytes.
    std::size_t compact(const std::uint8_t* packs, std::size_t length, std::uint8_t* into) const;
    // The first run of kept packs judged last from pack `from` on, as pack numbers [first, end);
    // first == end when none is left.
    std::pair<std::size_t, std::size_t> keptRun(std::size_t from) const;

private:
    bool keepUnit(const NavPack& nav, const std::string& file, std::int64_t at, int vob, int cell);
    void note(const std::string& line);
    void sayBlock();

    Log log_;
    std::vector<std::uint32_t> known_;
    std::vector<std::uint8_t> verdicts_;  // one per pack judged last
    bool keep_ = true;                    // the unit being read is kept
    std::string pastEnd_;                 // said when another unit of the file follows
    int notes_ = 0;
    // The interleaved block being read of a lone VOB.
    int angle_ = 0;
    std::vector<std::uint32_t> blockIds_;  // its cells, in the order they came
    std::string blockFile_;
    std::int64_t blockStart_ = -1;
    bool blockSaid_ = false;
};

}  // namespace strandis
