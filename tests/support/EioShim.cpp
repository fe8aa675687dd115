// Loaded with LD_PRELOAD into strandis-cli: read() of a file whose name ends in "_0.IFO" fails
// with EIO, as a bad sector of a disc would make it.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
    using Read = ssize_t (*)(int, void*, size_t);
    static const auto real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length > 6 && std::strncmp(path + length - 6, "_0.IFO", 6) == 0) {
        errno = EIO;
        return -1;
    }
    return real(fd, buffer, count);
}
