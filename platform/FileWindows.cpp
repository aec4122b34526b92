// The file calls on Windows: UTF-8 paths opened through the wide-character calls, in binary mode.
#if defined(_WIN32)

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/File.h"

namespace {

// The simulator hands out UTF-8 paths; the narrow calls would read them in the ANSI code page.
std::wstring Wide(const std::string &path) {
    if (path.empty()) return std::wstring();
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), (int)path.size(), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide((size_t)length, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), (int)path.size(), &wide[0], length);
    return wide;
}

bool IsRegular(int fd) {
    struct _stat64 info;
    return _fstat64(fd, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
}

}  // namespace

bool PathExists(const std::string &path) {
    std::wstring wide = Wide(path);
    return !wide.empty() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int OpenRegularFile(const std::string &path) {
    // Device names (NUL, CON, COM1) and pipes are not regular files: the look before the open keeps
    // the open away from them, the look after it catches a swap in between.
    std::wstring wide = Wide(path);
    struct _stat64 info;
    if (wide.empty() || _wstat64(wide.c_str(), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return -1;
    int fd = _wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) return -1;
    if (!IsRegular(fd)) {
        _close(fd);
        return -1;
    }
    return fd;
}

// Windows has no owner-only mode bits; the file takes the ACL its folder passes on, which under a
// user's own folders admits that user, SYSTEM and the administrators.
int CreateOwnerOnlyFile(const std::string &path) {
    std::wstring wide = Wide(path);
    if (wide.empty()) return -1;
    return _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

long ReadFromFile(int fd, char *buffer, size_t size) {
    unsigned count = size > 0x7fffffff ? 0x7fffffffu : (unsigned)size;
    return _read(fd, buffer, count);
}

long WriteToFile(int fd, const char *bytes, size_t size) {
    unsigned count = size > 0x7fffffff ? 0x7fffffffu : (unsigned)size;
    return _write(fd, bytes, count);
}

void CloseFile(int fd) { _close(fd); }

#endif
