// Finding this process's established TCP connections: through /proc on Linux, the TCP table on Windows.
#include "Connection.h"

#ifdef _WIN32
// winsock2.h must come before what includes windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
// (a block of its own, so the formatter keeps it after them)
#include <iphlpapi.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace simhost {

namespace {

// The address as both tables hold it: the 32-bit word in memory order, first byte first.
std::string FormatAddress(unsigned address, unsigned port) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", address & 0xff, (address >> 8) & 0xff, (address >> 16) & 0xff,
                  (address >> 24) & 0xff, port);
    return text;
}

}  // namespace

#ifdef _WIN32

TcpConnection FindEstablishedConnection(int remotePort) {
    TcpConnection result;
    std::vector<unsigned char> buffer(16384);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer.size());
        DWORD status = GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
        if (status == ERROR_INSUFFICIENT_BUFFER) {
            buffer.resize(size + 4096);
            continue;
        }
        if (status != NO_ERROR) return result;
        const auto *table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(buffer.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCPROW_OWNER_PID &row = table->table[i];
            const unsigned port = ntohs(static_cast<u_short>(row.dwRemotePort));
            if (row.dwOwningPid != GetCurrentProcessId() || row.dwState != MIB_TCP_STATE_ESTAB ||
                static_cast<int>(port) != remotePort)
                continue;
            result.established = true;
            result.remote = FormatAddress(row.dwRemoteAddr, port);
            return result;
        }
        return result;
    }
    return result;
}

#else

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

#endif

}  // namespace simhost
