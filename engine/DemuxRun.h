#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/Engine.h"
#include "engine/OutputFile.h"
#include "engine/RunScope.h"
#include "engine/Subpictures.h"
#include "engine/WavOutput.h"

namespace strandis {

// Appends the payload chunks of a demux-mode scan to the files of the ticked boxes: video and
// audio as raw elementary streams, subpictures as "SP" records.
// A slot's file takes the stream that `selected` lists there (the detection's inventory over
// every file); where it lists none, the stream the scanner registered in the slot.
class DemuxWriter final : public ChunkSink {
public:
    DemuxWriter(Engine& engine, std::array<OutputFile*, 2> video, std::array<OutputFile*, 16> audio,
                std::array<OutputFile*, 16> sub, const StreamInventory& selected);
    void chunk(const PayloadChunk& chunk, std::uint32_t& ptsReg) override;
    // The audio slot's stream goes through `wav` (which writes to the slot's file) as WAV.
    void convertToWav(int slot, WavOutput* wav) { wav_[static_cast<std::size_t>(slot)] = wav; }
    // The time stamp of the first packet with one written to each video and audio file (all 33
    // bits); none for a file that got none.
    std::optional<std::uint64_t> firstVideoPts(int slot) const {
        return firstVideo_[static_cast<std::size_t>(slot)];
    }
    std::optional<std::uint64_t> firstAudioPts(int slot) const {
        return firstAudio_[static_cast<std::size_t>(slot)];
    }
    // The bytes written to an audio file before its first time stamp: a file that starts
    // mid-stream holds samples from before it.
    std::int64_t audioBytesBefore(int slot) const {
        return audioBytesBefore_[static_cast<std::size_t>(slot)];
    }
    // The subpicture slot's units go through `output` (PGS or VobSub) instead of "SP" records.
    void convertSubpictures(int slot, SubpictureOutput* output) {
        subOut_[static_cast<std::size_t>(slot)] = output;
    }
    // The scan goes on in the following file `name`: when its clock starts below the end of the
    // files before it, its subpicture times are moved on past that end.
    void nextFile(const std::string& name);

private:
    bool wanted(std::int32_t listed, std::int32_t registered, std::int32_t id) const;
    void clock(const PayloadChunk& chunk);

    Engine& engine_;
    std::array<OutputFile*, 2> video_;
    std::array<OutputFile*, 16> audio_;
    std::array<OutputFile*, 16> sub_;
    std::array<WavOutput*, 16> wav_{};
    std::array<SubpictureOutput*, 16> subOut_{};
    std::array<std::optional<std::uint64_t>, 2> firstVideo_{};
    std::array<std::optional<std::uint64_t>, 16> firstAudio_{};
    std::array<std::int64_t, 16> audioBytesBefore_{};
    StreamInventory selected_;
    // The join of two files: the offset added to the current file's time stamps, the highest
    // time stamp (offset included) of the files before, and the shortest step between two
    // video time stamps, taken as one frame.
    std::string fileName_;
    bool firstOfFile_ = false;
    std::uint32_t offset_ = 0;
    std::uint32_t end_ = 0;
    std::uint32_t endBefore_ = 0;
    bool seen_ = false;
    std::uint32_t lastVideoPts_ = 0;
    bool lastVideoSeen_ = false;
    std::uint32_t frame_ = 0;
};

// "Demux": one output file per box ticked at the start, the source (and the second feature
// file) scanned in demux mode into them. Raises RunError when a file cannot be opened, created,
// read or written; every file is closed in every case, and after a failure the log names the
// outputs that are incomplete.
RunOutcome RunDemux(Engine& engine, const std::string& sourcePath);

// The frame-count line of the demultiplexing run: count at 23.976 pictures per second.
std::string DemuxFrameCountLine(std::int64_t count, int slot, char timeSeparator = ':');

}  // namespace strandis
