// The file calls on Linux, macOS and the BSDs.
#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/File.h"

bool PathExists(const std::string &path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

int OpenRegularFile(const std::string &path) {
    // The first look keeps the open away from devices and FIFOs; the second catches a file swapped for
    // one of them between the two calls.
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

int CreateOwnerOnlyFile(const std::string &path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

long ReadFromFile(int fd, char *buffer, size_t size) {
    ssize_t n;
    do {
        n = read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return (long)n;
}

long WriteToFile(int fd, const char *bytes, size_t size) {
    ssize_t n;
    do {
        n = write(fd, bytes, size);
    } while (n < 0 && errno == EINTR);
    return (long)n;
}

void CloseFile(int fd) { close(fd); }

#endif
