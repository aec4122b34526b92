// Opening files named by the user's disk or by a peer without ever blocking the simulation thread.
#pragma once

#include <string>

// Opens `path` for reading when it is a regular file, and only then; -1 otherwise. A FIFO without a
// writer would hold a plain open for ever and a device may block or have side effects, so anything but
// a regular file is refused, and the open itself does not wait. The caller closes the descriptor.
int OpenRegularFile(const std::string &path);

// Whether `path` is a regular file that opens for reading (opened and closed again at once).
bool RegularFileOpens(const std::string &path);
