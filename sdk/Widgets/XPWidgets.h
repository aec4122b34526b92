/* The widget library: creating widgets, their properties, visibility and messages. */
#ifndef _XPWidgets_h_
#define _XPWidgets_h_

#include "XPWidgetDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

WIDGET_API XPWidgetID XPCreateWidget(int inLeft, int inTop, int inRight, int inBottom, int inVisible,
                                     const char *inDescriptor, int inIsRoot, XPWidgetID inContainer,
                                     XPWidgetClass inClass);
WIDGET_API void XPDestroyWidget(XPWidgetID inWidget, int inDestroyChildren);
WIDGET_API int XPSendMessageToWidget(XPWidgetID inWidget, XPWidgetMessage inMessage, XPDispatchMode inMode,
                                     intptr_t inParam1, intptr_t inParam2);
WIDGET_API void XPAddWidgetCallback(XPWidgetID inWidget, XPWidgetFunc_t inNewCallback);
WIDGET_API void XPSetWidgetProperty(XPWidgetID inWidget, XPWidgetPropertyID inProperty, intptr_t inValue);
WIDGET_API intptr_t XPGetWidgetProperty(XPWidgetID inWidget, XPWidgetPropertyID inProperty, int *inExists);
WIDGET_API void XPSetWidgetDescriptor(XPWidgetID inWidget, const char *inDescriptor);
WIDGET_API int XPGetWidgetDescriptor(XPWidgetID inWidget, char *outDescriptor, int inMaxDescLength);
WIDGET_API void XPShowWidget(XPWidgetID inWidget);
WIDGET_API void XPHideWidget(XPWidgetID inWidget);
WIDGET_API int XPIsWidgetVisible(XPWidgetID inWidget);

#ifdef __cplusplus
}
#endif

#endif
