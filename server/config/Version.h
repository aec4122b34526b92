// The server's version and the revision it was built from, for --version, the first log line and /metrics.
#pragma once

namespace server {

const char *Version();   // the project's version, e.g. "0.1.0"
const char *Revision();  // the source's commit ("-dirty" with local changes), or "unknown"

}  // namespace server
