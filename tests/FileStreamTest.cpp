#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/RunError.h"
#include "io/InputFile.h"
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
    const Bytes content = Noise(3 * InputFile::kWindow + 999, 3);
    const std::string path = Save(dir, "source.EVO", content);
    std::vector<std::unique_ptr<InputFile>> files;
    for (int k = 0; k < 12; ++k) {
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

}  // namespace
}  // namespace strandis::test
