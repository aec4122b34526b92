/* Graphics state, text drawing and the local coordinate frame. */
#ifndef _XPLMGraphics_h_
#define _XPLMGraphics_h_

#include "XPLMDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { xplmFont_Basic = 0 };
typedef int XPLMFontID;

XPLM_API void XPLMSetGraphicsState(int inEnableFog, int inNumberTexUnits, int inEnableLighting,
                                   int inEnableAlphaTesting, int inEnableAlphaBlending, int inEnableDepthTesting,
                                   int inEnableDepthWriting);
XPLM_API void XPLMDrawTranslucentDarkBox(int inLeft, int inTop, int inRight, int inBottom);
XPLM_API void XPLMDrawString(float *inColorRGB, int inXOffset, int inYOffset, char *inChar, int *inWordWrapWidth,
                             XPLMFontID inFontID);
XPLM_API void XPLMGetFontDimensions(XPLMFontID inFontID, int *outCharWidth, int *outCharHeight, int *outDigitsOnly);
XPLM_API void XPLMWorldToLocal(double inLatitude, double inLongitude, double inAltitude, double *outX,
                               double *outY, double *outZ);
XPLM_API void XPLMLocalToWorld(double inX, double inY, double inZ, double *outLatitude, double *outLongitude,
                               double *outAltitude);

#ifdef __cplusplus
}
#endif

#endif
