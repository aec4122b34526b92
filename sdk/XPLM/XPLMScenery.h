/* Scenery: terrain probes and objects loaded from OBJ8 files. */
#ifndef _XPLMScenery_h_
#define _XPLMScenery_h_

#include "XPLMDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(XPLM200)

enum { xplm_ProbeY = 0 };
typedef int XPLMProbeType;

enum { xplm_ProbeHitTerrain = 0, xplm_ProbeError = 1, xplm_ProbeMissed = 2 };
typedef int XPLMProbeResult;

typedef void *XPLMProbeRef;

typedef struct {
    int structSize;
    float locationX;
    float locationY;
    float locationZ;
    float normalX;
    float normalY;
    float normalZ;
    float velocityX;
    float velocityY;
    float velocityZ;
    int is_wet;
} XPLMProbeInfo_t;

XPLM_API XPLMProbeRef XPLMCreateProbe(XPLMProbeType inProbeType);
XPLM_API void XPLMDestroyProbe(XPLMProbeRef inProbe);
XPLM_API XPLMProbeResult XPLMProbeTerrainXYZ(XPLMProbeRef inProbe, float inX, float inY, float inZ,
                                             XPLMProbeInfo_t *outInfo);

typedef void *XPLMObjectRef;

typedef struct {
    int structSize;
    float x;
    float y;
    float z;
    float pitch;
    float heading;
    float roll;
} XPLMDrawInfo_t;

#endif /* XPLM200 */

#if defined(XPLM210)
typedef void (*XPLMObjectLoaded_f)(XPLMObjectRef inObject, void *inRefcon);
#endif

#if defined(XPLM200)
XPLM_API XPLMObjectRef XPLMLoadObject(const char *inPath);
#endif

#if defined(XPLM210)
XPLM_API void XPLMLoadObjectAsync(const char *inPath, XPLMObjectLoaded_f inCallback, void *inRefcon);
#endif

#if defined(XPLM200)
XPLM_API void XPLMUnloadObject(XPLMObjectRef inObject);
#endif

#ifdef __cplusplus
}
#endif

#endif
