/* Loads a plug-in as X-Plane does and runs its lifecycle against do-nothing SDK functions: loader XPL.
 *
 * scripts/check-package builds this inside the Debian 11 userland (scripts/check-on-mac on a Mac) with stubs for every
 * SDK and OpenGL function the plug-in imports, so loading proves the plug-in runs on glibc 2.31 with nothing but the C
 * library and OpenGL. It prints what a check compares: the three texts XPluginStart returns, the results of the entry
 * functions, and the opening and closing lines the plug-in sends when its settings file says to connect at startup. The
 * server it connects to is this program: a listener on SKORVALE_SERVER_ADDRESS (which must be a loopback address), port
 * 49556, so nothing leaves the machine.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Stubs.h"

/* macOS has no SOCK_CLOEXEC; the loader starts no other program, so nothing inherits the socket. */
#ifndef SOCK_CLOEXEC
#define SOCK_CLOEXEC 0
#endif

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

static int Fail(const char *what, const char *detail) {
    fprintf(stderr, "loader: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    return 1;
}

/* The listener stands in for the server; only a loopback address is accepted. */
static int Listen(const char *address) {
    struct sockaddr_in where;
    memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_port = htons(49556);
    if (address == NULL || inet_pton(AF_INET, address, &where.sin_addr) != 1) return -1;
    if ((ntohl(where.sin_addr.s_addr) >> 24) != 127) return -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    if (fd < 0) return -1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, (struct sockaddr *)&where, sizeof where) != 0 || listen(fd, 4) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/* One line (without its line end) within timeoutMs, or "(none)": the plug-in sends each message whole. */
static void ReadLine(int fd, int timeoutMs, char *line, size_t size) {
    size_t length = 0;
    line[0] = '\0';
    while (fd >= 0 && length + 1 < size) {
        struct pollfd entry = {fd, POLLIN, 0};
        if (poll(&entry, 1, timeoutMs) <= 0) break;
        ssize_t n = recv(fd, line + length, 1, 0);
        if (n <= 0 || line[length] == '\n') break;
        length++;
    }
    line[length] = '\0';
    if (length == 0) snprintf(line, size, "(none)");
}

int main(int argc, char **argv) {
    if (argc != 2) return Fail("usage", "loader PLUGIN.xpl");
    int listener = Listen(getenv("SKORVALE_SERVER_ADDRESS"));
    if (listener < 0) return Fail("cannot listen on SKORVALE_SERVER_ADDRESS (a loopback address), port 49556", NULL);

    /* RTLD_NOW: every import must resolve at once, or the load fails here rather than mid-flight. */
    void *module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == NULL) return Fail("dlopen failed", dlerror());
    int (*start)(char *, char *, char *) = (int (*)(char *, char *, char *))dlsym(module, "XPluginStart");
    int (*enable)(void) = (int (*)(void))dlsym(module, "XPluginEnable");
    void (*disable)(void) = (void (*)(void))dlsym(module, "XPluginDisable");
    void (*stop)(void) = (void (*)(void))dlsym(module, "XPluginStop");
    if (!start || !enable || !disable || !stop) return Fail("an entry function is missing", NULL);

    char name[256] = "", signature[256] = "", description[256] = "";
    printf("start: %d\n", start(name, signature, description));
    printf("name: %s\nsignature: %s\ndescription: %s\n", name, signature, description);
    printf("enable: %d\n", enable());
    fflush(stdout);

    struct pollfd waiting = {listener, POLLIN, 0};
    int connection = poll(&waiting, 1, 5000) > 0 ? accept(listener, NULL, NULL) : -1;
    char line[4096];
    ReadLine(connection, 5000, line, sizeof line);
    printf("login: %s\n", line);

    disable();
    ReadLine(connection, 2000, line, sizeof line);
    printf("logout: %s\n", line);
    stop();
    printf("stopped\n");
    fflush(stdout);

    if (dlclose(module) != 0) return Fail("dlclose failed", dlerror());
    printf("unloaded after %ld SDK calls\n", stubCalls);
    if (connection >= 0) close(connection);
    close(listener);
    return 0;
}
