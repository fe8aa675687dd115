#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace strandis::analysers {

// Sample rates in Hz by the Dolby Digital fscod (3 is reserved), then the 19 Dolby Digital bit
// rates in bit/s by frmsizecod / 2.
inline constexpr std::array<std::int32_t, 23> RateTable{
    48000,  44100,  32000,  0,      32000,  40000,  48000,  56000,  64000,  80000,  96000, 112000,
    128000, 160000, 192000, 224000, 256000, 320000, 384000, 448000, 512000, 576000, 640000};

// DVD-Audio channel assignments 0..20, used by the LPCM and MLP readers.
inline constexpr std::array<std::string_view, 32> ChannelNames{
    "C (mono)",
    "L + R",
    "Lf + Rf + S",
    "Lf + Rf + Ls + Rs",
    "Lf + Rf + LFE",
    "Lf + Rf + LFE + S",
    "Lf + Rf + LFE + Ls + Rs",
    "Lf + Rf + C",
    "Lf + Rf + C + S",
    "Lf + Rf + C + Ls + Rs",
    "Lf + Rf + C + LFE",
    "Lf + Rf + C + LFE + S",
    "Lf + Rf + C + LFE + Ls + Rs",
    "Lf + Rf + C + S",
    "Lf + Rf + C + Ls + Rs",
    "Lf + Rf + C + LFE",
    "Lf + Rf + C + LFE + S",
    "Lf + Rf + C + LFE + Ls + Rs",
    "Lf + Rf + Ls + Rs + LFE",
    "Lf + Rf + Ls + Rs + C",
    "Lf + Rf + Ls + Rs + C + LFE",
};

// Dolby TrueHD 6-channel presentation assignments: only 15 has a name.
inline constexpr std::array<std::string_view, 32> TrueHdChannelNames{
    "???0",  "???1",  "???2",  "???3",  "???4",  "???5",  "???6",  "???7",
    "???8",  "???9",  "???10", "???11", "???12", "???13", "???14", "Lf + Rf + Ls + Rs + C + LFE",
    "???16", "???17", "???18", "???19", "???20", "???21"};

// Quantization word length codes.
inline constexpr std::array<std::string_view, 16> SampleSizeNames{"16", "20", "24"};

// Quantization word length codes, bits.
inline constexpr std::array<int, 16> SampleSizeBits{16, 20, 24};

// Sampling frequency codes, Hz.
inline constexpr std::array<int, 16> SampleRateHz{48000, 96000, 192000, 0, 0, 0, 0, 0,
                                                  44100, 88200, 176400, 0, 0, 0, 0, 0};

// Sampling frequency codes, kHz.
inline constexpr std::array<std::string_view, 16> SampleRateNames{
    "48", "96", "192", "", "", "", "", "", "44.1", "88.2", "176.4"};

}  // namespace strandis::analysers
