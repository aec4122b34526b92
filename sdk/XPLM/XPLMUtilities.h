/* Odds and ends: the directory separator and the simulator's log. */
#ifndef _XPLMUtilities_h_
#define _XPLMUtilities_h_

#include "XPLMDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

XPLM_API const char *XPLMGetDirectorySeparator(void);
XPLM_API void XPLMDebugString(const char *inString);

#ifdef __cplusplus
}
#endif

#endif
