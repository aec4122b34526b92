// Opening, reading and writing the files the plug-in uses, without ever blocking the simulation thread.
//
// Files are plain int descriptors on every system; paths are UTF-8 and may use "/" everywhere.
#pragma once

#include <cstddef>
#include <string>

// Opens `path` for reading when it is a regular file, and only then; -1 otherwise. A FIFO without a
// writer would hold a plain open for ever and a device may block or have side effects, so anything but
// a regular file is refused, and the open itself does not wait. The caller closes the descriptor.
int OpenRegularFile(const std::string &path);

// Whether anything at all is at `path`: a file that exists and does not open is worth a word to the pilot.
bool PathExists(const std::string &path);

// Opens `path` for writing from its start, emptied, creating it if need be: where the system has
// owner-only permissions a file made here gets them (an existing one keeps its own). -1 on failure.
int CreateOwnerOnlyFile(const std::string &path);

// One read or write, retried when interrupted: the bytes moved (0 at the end of a file), or -1.
long ReadFromFile(int fd, char *buffer, size_t size);
long WriteToFile(int fd, const char *bytes, size_t size);
void CloseFile(int fd);

// Whether `path` is a regular file that opens for reading (opened and closed again at once).
inline bool RegularFileOpens(const std::string &path) {
    int fd = OpenRegularFile(path);
    if (fd < 0) return false;
    CloseFile(fd);
    return true;
}
