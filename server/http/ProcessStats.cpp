// Reading the process's CPU time, memory, descriptors and start time from /proc.
#include "server/http/ProcessStats.h"

#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace server {

namespace {

void Gauge(std::string &out, const char *name, const char *type, const char *help, double value) {
    char digits[32];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + name + " ";
    out.append(digits, result.ptr);
    out += '\n';
}

// The fields of /proc/self/stat after the command name, which may itself hold spaces and parentheses.
std::vector<std::string> StatFields() {
    std::ifstream in("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t end = text.rfind(')');
    std::vector<std::string> fields;
    if (end == std::string::npos) return fields;
    std::istringstream rest(text.substr(end + 2));
    for (std::string field; rest >> field;) fields.push_back(field);
    return fields;
}

// Taken as the program starts (static initialization), so that it needs no file a hardened service
// cannot see (/proc/stat is hidden with ProcSubset=pid).
const double kStartTime = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();

}  // namespace

std::string ProcessMetricsText() {
    std::string out;
    double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    double pageSize = static_cast<double>(sysconf(_SC_PAGESIZE));
    // Fields from the state on (man 5 proc): utime is the 14th of the line, the 12th here.
    std::vector<std::string> stat = StatFields();
    if (stat.size() > 21 && ticks > 0) {
        double cpu = (std::strtod(stat[11].c_str(), nullptr) + std::strtod(stat[12].c_str(), nullptr)) / ticks;
        Gauge(out, "process_cpu_seconds_total", "counter", "User and system CPU time spent, in seconds.", cpu);
        Gauge(out, "process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.",
              std::strtod(stat[20].c_str(), nullptr));
        Gauge(out, "process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
              std::strtod(stat[21].c_str(), nullptr) * pageSize);
    }
    Gauge(out, "process_start_time_seconds", "gauge", "Start time of the process since the epoch, in seconds.",
          kStartTime);
    std::error_code error;
    std::size_t open = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        ++open;
    }
    if (!error) Gauge(out, "process_open_fds", "gauge", "Open file descriptors.", static_cast<double>(open));
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        Gauge(out, "process_max_fds", "gauge", "Most file descriptors the process may open.",
              static_cast<double>(limit.rlim_cur));
    }
    return out;
}

}  // namespace server
