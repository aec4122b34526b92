// Finding this process's established TCP connections through /proc.
#include "Connection.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace simhost {

namespace {

std::set<unsigned long> OwnSocketInodes() {
    std::set<unsigned long> inodes;
    DIR *dir = opendir("/proc/self/fd");
    if (!dir) return inodes;
    while (dirent *entry = readdir(dir)) {
        std::string path = std::string("/proc/self/fd/") + entry->d_name;
        char target[128];
        ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        unsigned long inode = 0;
        if (std::sscanf(target, "socket:[%lu]", &inode) == 1) inodes.insert(inode);
    }
    closedir(dir);
    return inodes;
}

// /proc/net/tcp writes an IPv4 address as the 32-bit word in host (little-endian) order, in hex.
std::string FormatAddress(unsigned address, unsigned port) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", address & 0xff, (address >> 8) & 0xff, (address >> 16) & 0xff,
                  (address >> 24) & 0xff, port);
    return text;
}

}  // namespace

TcpConnection FindEstablishedConnection(int remotePort) {
    TcpConnection result;
    std::set<unsigned long> inodes = OwnSocketInodes();
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the header
    while (std::getline(table, line)) {
        unsigned localAddr, localPort, remoteAddr, rport, state;
        unsigned long inode = 0;
        // sl local rem st tx:rx tr:when retrnsmt uid timeout inode
        if (std::sscanf(line.c_str(), " %*d: %x:%x %x:%x %x %*x:%*x %*x:%*x %*x %*u %*u %lu", &localAddr, &localPort,
                        &remoteAddr, &rport, &state, &inode) != 6)
            continue;
        if (state != 0x01 || static_cast<int>(rport) != remotePort || !inodes.count(inode)) continue;
        result.established = true;
        result.remote = FormatAddress(remoteAddr, rport);
        return result;
    }
    return result;
}

}  // namespace simhost
