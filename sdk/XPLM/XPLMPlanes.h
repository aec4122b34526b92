/* Multiplayer aircraft: taking them from the AI and choosing their models. */
#ifndef _XPLMPlanes_h_
#define _XPLMPlanes_h_

#include "XPLMDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*XPLMPlanesAvailable_f)(void *inRefcon);

XPLM_API void XPLMCountAircraft(int *outTotalAircraft, int *outActiveAircraft, XPLMPluginID *outController);
XPLM_API void XPLMSetActiveAircraftCount(int inCount);
XPLM_API int XPLMAcquirePlanes(char **inAircraft, XPLMPlanesAvailable_f inCallback, void *inRefcon);
XPLM_API void XPLMReleasePlanes(void);
XPLM_API void XPLMDisableAIForPlane(int inPlaneIndex);
XPLM_API void XPLMSetAircraftModel(int inIndex, const char *inAircraftPath);
XPLM_API void XPLMGetNthAircraftModel(int inIndex, char *outFileName, char *outPath);

#ifdef __cplusplus
}
#endif

#endif
