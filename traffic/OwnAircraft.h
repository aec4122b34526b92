// Reporting the user's own aircraft: the location datagram each frame and the identity messages every 10 seconds.
#pragma once

#include "core/HostInterface.h"

int SkorvaleDrawPlanes(XPLMDrawingPhase inPhase, int inIsBefore, void *inRefcon);
float SkorvaleProcessAirplaneCallback(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop,
                                      int inCounter, void *inRefcon);
int SkorvaleDC3DCockpit(XPLMDrawingPhase inPhase, int inIsBefore, void *inRefcon);
