// The unique ID this copy of the plug-in gives the server for one run.
#include "core/UniqueId.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace {

bool ReadRandom(unsigned *value) {
    ssize_t n;
    do {
        n = getrandom(value, sizeof *value, GRND_NONBLOCK);
    } while (n < 0 && errno == EINTR);
    if (n == (ssize_t)sizeof *value) return true;

    // Kernels before 3.17 have no getrandom; the device gives the same bytes.
    int fd = open("/dev/urandom", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    do {
        n = read(fd, value, sizeof *value);
    } while (n < 0 && errno == EINTR);
    close(fd);
    return n == (ssize_t)sizeof *value;
}

}  // namespace

int DrawUniqueId() {
    unsigned value = 0;
    if (!ReadRandom(&value)) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        value = (unsigned)now.tv_nsec * 2654435761u ^ (unsigned)now.tv_sec ^ ((unsigned)getpid() << 16);
    }
    return (int)(value & INT_MAX);
}
