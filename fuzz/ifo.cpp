// A DVD's IFO files as libdvdread reads them through ReadDisc, and what the runs take from them:
// the input's first two bytes give the length of VIDEO_TS.IFO, the rest is VTS_01_0.IFO; a
// title set VOB of 1 MiB (sparse) lies beside them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/RunError.h"
#include "disc/DvdTitles.h"

namespace {

std::string Folder() {
    static const std::string folder = [] {
        char path[] = "/tmp/strandis-fuzz-ifo-XXXXXX";
        if (::mkdtemp(path) == nullptr) std::abort();
        const std::string videoTs = std::string(path) + "/VIDEO_TS";
        ::mkdir(videoTs.c_str(), 0755);
        const int fd = ::open((videoTs + "/VTS_01_1.VOB").c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0 || ::ftruncate(fd, 1 << 20) != 0) std::abort();
        ::close(fd);
        return videoTs;
    }();
    return folder;
}

void Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0) std::abort();
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t vmg =
        std::min<std::size_t>((std::size_t{data[0]} << 8 | data[1]) * 16, size - 2);
    const std::string folder = Folder();
    Write(folder + "/VIDEO_TS.IFO", data + 2, vmg);
    Write(folder + "/VTS_01_0.IFO", data + 2 + vmg, size - 2 - vmg);
    try {
        const strandis::dvd::Disc disc = strandis::dvd::ReadDisc(folder);
        for (const strandis::dvd::Title& title : disc.titles) {
            strandis::dvd::DescribeTitle(title);
            strandis::dvd::TitleInfoOf(title);
        }
    } catch (const strandis::RunError&) {
    }
    return 0;
}
