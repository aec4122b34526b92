// The version and revision, from the header the build writes (packaging/Revision.cmake).
#include "server/config/Version.h"

#include "SkorvaleRevision.h"

namespace server {

const char *Version() { return SKORVALE_VERSION; }
const char *Revision() { return SKORVALE_REVISION; }

}  // namespace server
