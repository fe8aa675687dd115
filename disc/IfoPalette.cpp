#include "disc/IfoPalette.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/ByteOrder.h"

namespace strandis {

namespace {

// A title set IFO holds its tables in a few hundred KiB; a file far larger is none.
constexpr off_t kMaxIfoBytes = 16 << 20;

// The whole file, or why not. Opened without blocking (a pipe would wait for a writer) and read
// only when it is a regular file of a sensible size.
bool ReadWhole(const std::string& path, std::vector<std::uint8_t>& bytes, IfoPalette& result) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.missing = errno == ENOENT;
        result.why = std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool read = false;
    if (::fstat(fd, &st) != 0) {
        result.why = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        result.why = S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file";
    } else if (st.st_size > kMaxIfoBytes) {
        result.why = "it is larger than an IFO file";
    } else {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        if (done == bytes.size()) {
            read = true;
        } else {
            result.why = errno != 0 ? std::strerror(errno) : "it ended early";
        }
    }
    ::close(fd);
    return read;
}

}  // namespace

IfoPalette ReadIfoPalette(const std::string& path) {
    IfoPalette result;
    std::vector<std::uint8_t> ifo;
    errno = 0;
    if (!ReadWhole(path, ifo, result)) return result;
    if (ifo.size() < 0x100 || !std::equal(ifo.begin(), ifo.begin() + 12, "DVDVIDEO-VTS")) {
        result.why = "it is not a title set IFO file";
        return result;
    }
    // VTS_PGCIT's sector at 0xCC; its first search pointer gives the first PGC's offset, and
    // a PGC holds its colour lookup table at 0xA4: 16 times 0, Y, Cr, Cb.
    const std::size_t table = std::size_t{Be32(ifo.data() + 0xCC)} * 2048;
    if (table == 0) {
        result.why = "it has no program chain table";
        return result;
    }
    if (table + 16 > ifo.size()) {
        result.why = "its program chain table lies outside it";
        return result;
    }
    const std::size_t pgc = table + Be32(ifo.data() + table + 12);
    if (pgc + 0xA4 + 64 > ifo.size()) {
        result.why = "its first program chain lies outside it";
        return result;
    }
    DvdPalette palette;
    for (std::size_t k = 0; k < 16; ++k) {
        const std::uint8_t* entry = ifo.data() + pgc + 0xA4 + 4 * k;
        palette[k] = {entry[1], entry[2], entry[3], 255};
    }
    result.palette = palette;
    return result;
}

}  // namespace strandis
