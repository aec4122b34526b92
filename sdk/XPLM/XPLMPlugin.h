/* Messages between plug-ins and the simulator. */
#ifndef _XPLMPlugin_h_
#define _XPLMPlugin_h_

#include "XPLMDefs.h"

/* Another plug-in asks the holder of the multiplayer aircraft to let go of them. */
#define XPLM_MSG_RELEASE_PLANES 111

#endif
