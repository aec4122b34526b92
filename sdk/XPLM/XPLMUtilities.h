/* Odds and ends: the simulator's folder and directory separator, its log, and commands. */
#ifndef _XPLMUtilities_h_
#define _XPLMUtilities_h_

#include "XPLMDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

XPLM_API void XPLMGetSystemPath(char *outSystemPath);
XPLM_API const char *XPLMGetDirectorySeparator(void);
XPLM_API void XPLMDebugString(const char *inString);

enum {
    xplm_CommandBegin = 0,
    xplm_CommandContinue = 1,
    xplm_CommandEnd = 2,
};
typedef int XPLMCommandPhase;

typedef void *XPLMCommandRef;

typedef int (*XPLMCommandCallback_f)(XPLMCommandRef inCommand, XPLMCommandPhase inPhase, void *inRefcon);

XPLM_API XPLMCommandRef XPLMCreateCommand(const char *inName, const char *inDescription);
XPLM_API void XPLMRegisterCommandHandler(XPLMCommandRef inComand, XPLMCommandCallback_f inHandler, int inBefore,
                                         void *inRefcon);
XPLM_API void XPLMUnregisterCommandHandler(XPLMCommandRef inComand, XPLMCommandCallback_f inHandler, int inBefore,
                                           void *inRefcon);

#ifdef __cplusplus
}
#endif

#endif
