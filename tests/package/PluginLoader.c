/* Loads a plug-in as X-Plane does and runs its lifecycle against do-nothing SDK functions: loader XPL.
 *
 * scripts/check-package builds this twice. On Linux, inside the Debian 11 userland with stubs for every
 * SDK and OpenGL function the plug-in imports linked in, so loading proves the plug-in runs on glibc
 * 2.31 with nothing but the C library and OpenGL. For Windows, with mingw-w64, run under Wine beside
 * stub XPLM_64.dll and XPWidgets_64.dll that export exactly the SDK functions the plug-in imports, so
 * the load goes through its import table by DLL name as in the simulator. It prints what a check
 * compares: the three texts XPluginStart returns, the results of the entry functions, and the opening
 * and closing lines the plug-in sends when its settings file says to connect at startup. The server it
 * connects to is this program: a listener on SKORVALE_SERVER_ADDRESS (which must be a loopback
 * address), port 49556, so nothing leaves the machine.
 */
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
/* After winsock2.h, which must come first. */
#include <windows.h>
typedef SOCKET Socket;
#define NO_SOCKET INVALID_SOCKET
#define CloseSocket closesocket
#else
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
typedef int Socket;
#define NO_SOCKET (-1)
#define CloseSocket close
#endif

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if !defined(_WIN32)
#include "Stubs.h"

static long stubCalls;
static char handleBlock[4096] __attribute__((aligned(64)));

struct StubResult StubZero(void) {
    stubCalls++;
    struct StubResult result = {0, 0.0};
    return result;
}

struct StubResult StubHandle(void) {
    stubCalls++;
    struct StubResult result = {(intptr_t)handleBlock, 0.0};
    return result;
}

struct StubResult StubSeparator(void) {
    stubCalls++;
    static const char separator[] = "/";
    struct StubResult result = {(intptr_t)separator, 0.0};
    return result;
}
#endif

static int Fail(const char *what, const char *detail) {
    fprintf(stderr, "loader: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    return 1;
}

/* The listener stands in for the server; only a loopback address is accepted. */
static Socket Listen(const char *address) {
    struct sockaddr_in where;
    memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_port = htons(49556);
    if (address == NULL || inet_pton(AF_INET, address, &where.sin_addr) != 1) return NO_SOCKET;
    if ((ntohl(where.sin_addr.s_addr) >> 24) != 127) return NO_SOCKET;
    Socket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == NO_SOCKET) return s;
#if !defined(_WIN32)
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
    if (bind(s, (struct sockaddr *)&where, sizeof where) != 0 || listen(s, 4) != 0) {
        CloseSocket(s);
        return NO_SOCKET;
    }
    return s;
}

static int Readable(Socket s, int timeoutMs) {
#if defined(_WIN32)
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    struct timeval limit = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(0, &set, NULL, NULL, &limit) > 0;
#else
    struct pollfd entry = {s, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) > 0;
#endif
}

/* One line (without its line end) within timeoutMs, or "(none)": the plug-in sends each message whole. */
static void ReadLine(Socket s, int timeoutMs, char *line, size_t size) {
    size_t length = 0;
    line[0] = '\0';
    while (s != NO_SOCKET && length + 1 < size) {
        if (!Readable(s, timeoutMs)) break;
        int n = (int)recv(s, line + length, 1, 0);
        if (n <= 0 || line[length] == '\n') break;
        length++;
    }
    line[length] = '\0';
    if (length == 0) snprintf(line, size, "(none)");
}

#if defined(_WIN32)
static char errorText[32];
static const char *LastError(void) {
    snprintf(errorText, sizeof errorText, "error %lu", GetLastError());
    return errorText;
}
/* The plug-in's own folder is searched for the DLLs it imports, as X-Plane loads it by full path. */
static void *Load(const char *path) {
    char full[MAX_PATH];
    if (GetFullPathNameA(path, sizeof full, full, NULL) == 0) return NULL;
    return (void *)LoadLibraryExA(full, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}
static void *Symbol(void *module, const char *name) { return (void *)GetProcAddress((HMODULE)module, name); }
static int Unload(void *module) { return FreeLibrary((HMODULE)module) ? 0 : -1; }
#else
static const char *LastError(void) { return dlerror(); }
/* RTLD_NOW: every import must resolve at once, or the load fails here rather than mid-flight. */
static void *Load(const char *path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void *Symbol(void *module, const char *name) { return dlsym(module, name); }
static int Unload(void *module) { return dlclose(module); }
#endif

int main(int argc, char **argv) {
    if (argc != 2) return Fail("usage", "loader PLUGIN.xpl");
#if defined(_WIN32)
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return Fail("WSAStartup failed", NULL);
#endif
    Socket listener = Listen(getenv("SKORVALE_SERVER_ADDRESS"));
    if (listener == NO_SOCKET)
        return Fail("cannot listen on SKORVALE_SERVER_ADDRESS (a loopback address), port 49556", NULL);

    void *module = Load(argv[1]);
    if (module == NULL) return Fail("loading the plug-in failed", LastError());
    int (*start)(char *, char *, char *) = (int (*)(char *, char *, char *))Symbol(module, "XPluginStart");
    int (*enable)(void) = (int (*)(void))Symbol(module, "XPluginEnable");
    void (*disable)(void) = (void (*)(void))Symbol(module, "XPluginDisable");
    void (*stop)(void) = (void (*)(void))Symbol(module, "XPluginStop");
    if (!start || !enable || !disable || !stop) return Fail("an entry function is missing", NULL);

    char name[256] = "", signature[256] = "", description[256] = "";
    printf("start: %d\n", start(name, signature, description));
    printf("name: %s\nsignature: %s\ndescription: %s\n", name, signature, description);
    printf("enable: %d\n", enable());
    fflush(stdout);

    Socket connection = Readable(listener, 5000) ? accept(listener, NULL, NULL) : NO_SOCKET;
    char line[4096];
    ReadLine(connection, 5000, line, sizeof line);
    printf("login: %s\n", line);

    disable();
    ReadLine(connection, 2000, line, sizeof line);
    printf("logout: %s\n", line);
    stop();
    printf("stopped\n");
    fflush(stdout);

    if (Unload(module) != 0) return Fail("unloading the plug-in failed", LastError());
#if defined(_WIN32)
    printf("unloaded\n");
#else
    printf("unloaded after %ld SDK calls\n", stubCalls);
#endif
    fflush(stdout);
    if (connection != NO_SOCKET) CloseSocket(connection);
    CloseSocket(listener);
    return 0;
}
