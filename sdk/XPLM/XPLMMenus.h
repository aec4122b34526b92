/* Menus: the plug-ins menu and the submenus plug-ins add to it. */
#ifndef _XPLMMenus_h_
#define _XPLMMenus_h_

#include "XPLMDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void *XPLMMenuID;
typedef void (*XPLMMenuHandler_f)(void *inMenuRef, void *inItemRef);

XPLM_API XPLMMenuID XPLMFindPluginsMenu(void);
XPLM_API XPLMMenuID XPLMCreateMenu(const char *inName, XPLMMenuID inParentMenu, int inParentItem,
                                   XPLMMenuHandler_f inHandler, void *inMenuRef);
XPLM_API void XPLMDestroyMenu(XPLMMenuID inMenuID);
XPLM_API int XPLMAppendMenuItem(XPLMMenuID inMenu, const char *inItemName, void *inItemRef, int inForceEnglish);

#ifdef __cplusplus
}
#endif

#endif
