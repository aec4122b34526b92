// A health check from the command line (`skorvale-server probe`), for container runtimes and monitors that
// have no HTTP client of their own, such as the image's HEALTHCHECK.
#pragma once

#include <string>

namespace server {

// GETs `path` from ADDRESS:PORT with a bounded wait; the HTTP status (0 when there was no answer) and the
// answer's body in `body`.
int ProbeHealth(const std::string &addressAndPort, const std::string &path, std::string *body);

}  // namespace server
