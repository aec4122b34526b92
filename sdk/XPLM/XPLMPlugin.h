/* Messages between plug-ins and the simulator, and the features a plug-in turns on. */
#ifndef _XPLMPlugin_h_
#define _XPLMPlugin_h_

#include "XPLMDefs.h"

/* Another plug-in asks the holder of the multiplayer aircraft to let go of them. */
#define XPLM_MSG_RELEASE_PLANES 111

#ifdef __cplusplus
extern "C" {
#endif

XPLM_API void XPLMEnableFeature(const char *inFeature, int inEnable);
/* Each buffer holds at least 256 bytes, or is NULL. */
XPLM_API void XPLMGetPluginInfo(XPLMPluginID inPlugin, char *outName, char *outFilePath, char *outSignature,
                                char *outDescription);
XPLM_API void XPLMSendMessageToPlugin(XPLMPluginID inPlugin, int inMessage, void *inParam);

#ifdef __cplusplus
}
#endif

#endif
