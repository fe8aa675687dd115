#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/RunError.h"
#include "io/InputFile.h"
#include "io/OutputFile.h"
#include "testkit/PsBuilder.h"
#include "tests/support/TestHost.h"

namespace strandis::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

std::string Save(const TempDir& dir, const std::string& name, const Bytes& bytes) {
    const std::string path = dir.path(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Blocks of sizes that do and do not divide a mapped window, the last one short: together
// they are the file, byte for byte, whether a block lies in one window or spans two.
TEST(FileStreamTest, BlocksPutTogetherAreTheFileWhereverWindowsEnd) {
    TempDir dir;
    const Bytes content = Noise(3 * InputFile::kWindow + 12345, 1);
    const std::string path = Save(dir, "source.EVO", content);
    for (const std::size_t count : {std::size_t{262144}, std::size_t{786432 + 7}}) {
        InputFile file;
        file.open(path);
        std::vector<std::uint8_t> buffer(count);
        Bytes read;
        while (file.position() < file.size()) {
            const InputFile::Block block = file.nextBlock(buffer.data(), count);
            ASSERT_GT(block.size, 0u);
            ASSERT_LE(block.size, count);
            read.insert(read.end(), block.data, block.data + block.size);
        }
        file.checkIntact();
        EXPECT_EQ(read, content) << "blocks of " << count;
        EXPECT_EQ(file.nextBlock(buffer.data(), count).size, 0u);  // at the end: nothing more
    }
}

// Mapping has a limit (windows in flight for all open files); files opened past it, or whose
// mapping stops on the way, are read instead, with the same bytes.
TEST(FileStreamTest, FilesThatCannotBeMappedAreReadWithTheSameBytes) {
    TempDir dir;
    const Bytes content = Noise(InputFile::kWindow + 999, 3);
    const std::string path = Save(dir, "source.EVO", content);
    std::vector<std::unique_ptr<InputFile>> files;
    for (int k = 0; k < 20; ++k) {
        files.push_back(std::make_unique<InputFile>());
        files.back()->open(path);
    }
    std::vector<std::uint8_t> buffer(262144);
    for (std::size_t k = 0; k < files.size(); ++k) {
        Bytes read;
        while (files[k]->position() < files[k]->size()) {
            const InputFile::Block block = files[k]->nextBlock(buffer.data(), buffer.size());
            ASSERT_GT(block.size, 0u);
            read.insert(read.end(), block.data, block.data + block.size);
        }
        EXPECT_EQ(read, content) << "file " << k;
    }
}

// A file cut short after its block was handed out: reading the vanished page gives zeros
// instead of a bus error, and the reader then reports the file's new end.
TEST(FileStreamTest, AFileCutShortUnderItsMappingIsAnErrorNotACrash) {
    TempDir dir;
    const Bytes content = Noise(2 * InputFile::kWindow, 2);
    const std::string path = Save(dir, "source.EVO", content);
    InputFile file;
    file.open(path);
    std::vector<std::uint8_t> buffer(262144);
    const InputFile::Block block = file.nextBlock(buffer.data(), buffer.size());
    ASSERT_EQ(block.size, buffer.size());
    ASSERT_EQ(block.data[200000], content[200000]);
    ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
    EXPECT_EQ(block.data[200000], 0);  // the page past the new end
    const std::string expected = "Cannot read file \"" + path + "\". It ended after 4096 of " +
                                 std::to_string(content.size()) + " bytes.";
    try {
        file.checkIntact();
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_EQ(error.what(), expected);
    }
    EXPECT_THROW(file.nextBlock(buffer.data(), buffer.size()), RunError);
    file.close();  // the window and its page of zeros go
}

// A file written by the thread takes the lent block's bytes by reference once it took 64 KiB of
// the block before, between bytes it copies, and carries what lies past a 64 KiB boundary of the
// file over to its next batch: the file is the writes in order, and it keeps no blocks
// allocated past its end. The loans give big parts, more parts than a batch holds, or a few
// bytes that cross no boundary; each block is spoilt once its loan's writes are done.
TEST(FileStreamTest, LentAndCopiedBytesAreWrittenInOrder) {
    TempDir dir;
    std::vector<Bytes> blocks(2);
    Bytes expected;
    WriteBehind behind;
    OutputFile out;
    out.create(dir.path("out.bin"), &behind);
    const struct {
        std::size_t step, length;
    } kLoans[] = {{4096, 2000}, {256, 180},   {16384, 100}, {4096, 2000}, {4096, 2000},
                  {256, 180},   {16384, 100}, {4096, 2000}, {4096, 2000}};
    int loan = 0;
    for (const auto [step, length] : kLoans) {
        Bytes& block = blocks[static_cast<std::size_t>(loan % 2)];
        block = Noise(262144, 5 + loan++);
        behind.lend(block.data(), block.size());
        for (std::size_t at = 0; at + step <= block.size(); at += step) {
            const std::uint8_t header[3] = {'S', 'P', static_cast<std::uint8_t>(at >> 8)};
            out.write(header, sizeof header);  // copied
            out.write(block.data() + at, length);
            expected.insert(expected.end(), header, header + 3);
            expected.insert(expected.end(), block.begin() + static_cast<std::ptrdiff_t>(at),
                            block.begin() + static_cast<std::ptrdiff_t>(at + length));
        }
        behind.wait(behind.endLoan());
        std::fill(block.begin(), block.end(), 0xEE);
    }
    out.close();
    std::ifstream written(dir.path("out.bin"), std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(written), {}), expected);
    struct stat st {};
    ASSERT_EQ(::stat(dir.path("out.bin").c_str(), &st), 0);
    EXPECT_LE(st.st_blocks * 512, (st.st_size + 4095) / 4096 * 4096 + 4096);
}

// Blocks lent to the writing thread are written from the mapping after the scan has left them:
// a file cut short in between fails that write (the kernel says "Bad address") instead of
// killing the process, and the source tells why.
TEST(FileStreamTest, ALentBlockCutAwayBeforeItIsWrittenFailsItsWrite) {
    TempDir dir;
    const Bytes content = Noise(2 * InputFile::kWindow, 4);
    const std::string path = Save(dir, "source.EVO", content);
    WriteBehind behind;
    InputFile file;
    file.lendTo(&behind, 262144);
    file.open(path);
    OutputFile out;
    out.create(dir.path("out.bin"), &behind);
    std::vector<std::uint8_t> buffer(262144);
    for (int k = 0; k < 2; ++k) {  // the second block goes by reference
        const InputFile::Block block = file.nextBlock(buffer.data(), buffer.size());
        out.write(block.data, block.size);
    }
    ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
    file.lendTo(nullptr, 0);
    EXPECT_THROW(out.close(), RunError);
    try {
        file.checkIntact();
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_EQ(error.what(), "Cannot read file \"" + path + "\". It ended after 4096 of " +
                                    std::to_string(content.size()) + " bytes.");
    }
}

// A title's pieces are read as one source; a piece of an interleaved cell keeps only the units
// whose navigation pack (its DSI packet: VOB id in bytes 24-25, cell id in byte 27) names it.
TEST(FileStreamTest, PiecesReadAsOneSourceAndInterleavedCellsKeepTheirOwnUnits) {
    TempDir dir;
    // Packs of 2,048 bytes: a navigation pack (pack header, system header, PCI, DSI) opens each
    // unit; the others are filled with the number of their pack.
    const auto nav = [](int vob, int cell) {
        Bytes pack(2048, 0);
        const Bytes head{0x00, 0x00, 0x01, 0xBA, 0x44, 0, 4, 0, 4, 1, 0x01, 0x89, 0xC3, 0xF8};
        std::copy(head.begin(), head.end(), pack.begin());
        const Bytes system{0x00, 0x00, 0x01, 0xBB, 0x00, 0x12};
        std::copy(system.begin(), system.end(), pack.begin() + 14);
        const std::size_t pci = 14 + 24, dsi = pci + 6 + 980;
        const Bytes pciHead{0x00, 0x00, 0x01, 0xBF, 0x03, 0xD4, 0x00};
        std::copy(pciHead.begin(), pciHead.end(), pack.begin() + pci);
        const Bytes dsiHead{0x00, 0x00, 0x01, 0xBF, 0x03, 0xFA, 0x01};
        std::copy(dsiHead.begin(), dsiHead.end(), pack.begin() + dsi);
        pack[dsi + 7 + 24] = static_cast<std::uint8_t>(vob >> 8);
        pack[dsi + 7 + 25] = static_cast<std::uint8_t>(vob);
        pack[dsi + 7 + 27] = static_cast<std::uint8_t>(cell);
        return pack;
    };
    const auto data = [](int n) {
        Bytes pack(2048, static_cast<std::uint8_t>(n));
        const Bytes head{0x00, 0x00, 0x01, 0xBA};
        std::copy(head.begin(), head.end(), pack.begin());
        return pack;
    };
    // Cell 1 and cell 2 of VOB 1 alternate: 1 (2 packs), 2 (2 packs), 1 (1 pack), 2 (1 pack).
    std::vector<Bytes> packs{nav(1, 1), data(1),   data(2), nav(1, 2), data(3),
                             data(4),   nav(1, 1), data(5), nav(1, 2), data(6)};
    Bytes file;
    for (const Bytes& pack : packs)
        file.insert(file.end(), pack.begin(), pack.end());
    SaveFile(dir.path("VTS_01_1.VOB"), file);
    Bytes other(4096, 0x77);
    SaveFile(dir.path("VTS_01_2.VOB"), other);

    const auto read = [&](const std::vector<InputExtent>& extents) {
        InputFile input;
        input.open(extents);
        Bytes got;
        std::vector<std::uint8_t> buffer(262144);
        while (input.position() < input.size()) {
            const InputFile::Block block = input.nextBlock(buffer.data(), buffer.size());
            if (block.size == 0) break;
            got.insert(got.end(), block.data, block.data + block.size);
        }
        return got;
    };
    const std::string vob = dir.path("VTS_01_1.VOB");
    // Cell 2's units, then the second part's first sector: one source.
    Bytes want;
    for (const std::size_t k : {3u, 4u, 5u, 8u, 9u})
        want.insert(want.end(), packs[k].begin(), packs[k].end());
    want.insert(want.end(), other.begin(), other.begin() + 2048);
    EXPECT_EQ(read({{vob, 0, 10 * 2048, 1, 2}, {dir.path("VTS_01_2.VOB"), 0, 2048}}), want);
    // Without ids every pack of the range is read.
    EXPECT_EQ(read({{vob, 2048, 3 * 2048}}), Bytes(file.begin() + 2048, file.begin() + 4 * 2048));
}

}  // namespace
}  // namespace strandis::test
