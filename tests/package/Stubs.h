/* The do-nothing SDK functions of the package check's loader; scripts/check-package generates one per import. */
#ifndef SKORVALE_PACKAGE_STUBS_H
#define SKORVALE_PACKAGE_STUBS_H

#include <stdint.h>

/* Every stub returns this whatever the real function's type: on x86-64 a {integer, double} pair comes
   back in rax and xmm0, so a caller expecting an int, a pointer, a float or a double reads a defined
   value, and a caller expecting nothing ignores it. Arguments are ignored, which the calling convention
   allows. */
struct StubResult {
    intptr_t word;
    double real;
};

struct StubResult StubZero(void);      /* 0, null, 0.0 */
struct StubResult StubHandle(void);    /* a non-null handle for Create/Find functions the plug-in keeps */
struct StubResult StubSeparator(void); /* "/", as X-Plane on Linux */

#endif
