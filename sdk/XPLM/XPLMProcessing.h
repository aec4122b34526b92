/* Flight loops: callbacks the simulator runs on its clock. */
#ifndef _XPLMProcessing_h_
#define _XPLMProcessing_h_

#include "XPLMDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef float (*XPLMFlightLoop_f)(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop,
                                  int inCounter, void *inRefcon);

XPLM_API void XPLMRegisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, float inInterval, void *inRefcon);
XPLM_API void XPLMUnregisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, void *inRefcon);
/* A counter starting at zero for each sim cycle computed / video frame rendered. */
XPLM_API int XPLMGetCycleNumber(void);

#ifdef __cplusplus
}
#endif

#endif
