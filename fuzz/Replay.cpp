// Runs a fuzz target over every file of the folders named, without libFuzzer: the corpus kept in
// fuzz/corpus/ replayed as a test, so that an input that once crashed stays a named regression.
// A run error (RunError) is an answer, as under the fuzzer; a crash or a sanitizer report is not.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::size_t count = 0;
    for (int k = 1; k < argc; ++k) {
        std::error_code error;
        if (!fs::is_directory(argv[k], error)) continue;
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(argv[k]))
            if (entry.is_regular_file()) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                                  std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++count;
        }
    }
    std::cout << count << " inputs replayed\n";
    return 0;
}
