// The wall clock and the random source on Linux, macOS and the BSDs.
#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#if defined(__linux__)
#include <sys/random.h>
#endif

#include "platform/System.h"

void WallClockNow(long long *seconds, long *microseconds) {
    timeval now{};
    gettimeofday(&now, nullptr);
    *seconds = (long long)now.tv_sec;
    *microseconds = (long)now.tv_usec;
}

#if defined(__linux__)
bool SystemRandom(void *out, size_t size) {
    ssize_t n;
    do {
        n = getrandom(out, size, GRND_NONBLOCK);
    } while (n < 0 && errno == EINTR);
    if (n == (ssize_t)size) return true;

    // Kernels before 3.17 have no getrandom; the device gives the same bytes.
    int fd = open("/dev/urandom", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    do {
        n = read(fd, out, size);
    } while (n < 0 && errno == EINTR);
    close(fd);
    return n == (ssize_t)size;
}
#else
// macOS and the BSDs seed arc4random from the kernel; it neither fails nor waits.
bool SystemRandom(void *out, size_t size) {
    arc4random_buf(out, size);
    return true;
}
#endif

unsigned ProcessNumber() { return (unsigned)getpid(); }

#endif
