/* Instancing: objects the simulator draws itself, placed and fed data by the plug-in. */
#ifndef _XPLMInstance_h_
#define _XPLMInstance_h_

#include "XPLMDefs.h"
#include "XPLMScenery.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void *XPLMInstanceRef;

XPLM_API XPLMInstanceRef XPLMCreateInstance(XPLMObjectRef obj, const char **datarefs);
XPLM_API void XPLMDestroyInstance(XPLMInstanceRef instance);
XPLM_API void XPLMInstanceSetPosition(XPLMInstanceRef instance, const XPLMDrawInfo_t *new_position, const float *data);

#ifdef __cplusplus
}
#endif

#endif
