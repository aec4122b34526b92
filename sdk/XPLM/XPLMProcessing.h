/* Flight loops: callbacks the simulator runs on its clock. */
#ifndef _XPLMProcessing_h_
#define _XPLMProcessing_h_

#include "XPLMDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef float (*XPLMFlightLoop_f)(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop, int inCounter,
                                  void *inRefcon);

XPLM_API void XPLMRegisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, float inInterval, void *inRefcon);
XPLM_API void XPLMUnregisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, void *inRefcon);
/* A counter starting at zero for each sim cycle computed / video frame rendered. */
XPLM_API int XPLMGetCycleNumber(void);
#if defined(XPLM210)
/* Whether a created flight loop runs before or after the flight model moves the aircraft. */
enum { xplm_FlightLoop_Phase_BeforeFlightModel = 0, xplm_FlightLoop_Phase_AfterFlightModel = 1 };
typedef int XPLMFlightLoopPhaseType;
typedef void *XPLMFlightLoopID;
typedef struct {
    int structSize;
    XPLMFlightLoopPhaseType phase;
    XPLMFlightLoop_f callbackFunc;
    void *refcon;
} XPLMCreateFlightLoop_t;
/* Created unscheduled; XPLMScheduleFlightLoop starts it, with the intervals of the callback's result. */
XPLM_API XPLMFlightLoopID XPLMCreateFlightLoop(XPLMCreateFlightLoop_t *inParams);
XPLM_API void XPLMDestroyFlightLoop(XPLMFlightLoopID inFlightLoopID);
XPLM_API void XPLMScheduleFlightLoop(XPLMFlightLoopID inFlightLoopID, float inInterval, int inRelativeToNow);
#endif

#ifdef __cplusplus
}
#endif

#endif
