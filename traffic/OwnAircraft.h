// Reporting the user's own aircraft: the location datagram each frame and the identity messages every 10 seconds.
#pragma once

#include "core/HostInterface.h"

// All of these run on the simulation thread only.

// Builds the location message from the own data references and sends it now, when connected and the
// packet processor has run since start. True when it was sent.
bool SendLocationMessage();

// The location message goes out once per frame, from whichever of these runs first in it: the
// airplanes drawing phase where the simulator still draws it (X-Plane 11 with OpenGL), else the
// per-frame flight loop (Vulkan and Metal, and so every X-Plane 12, never run the 3-D phases).
int SkorvaleDrawPlanes(XPLMDrawingPhase inPhase, int inIsBefore, void *inRefcon);
float SkorvaleFrameCallback(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop, int inCounter,
                            void *inRefcon);

float SkorvaleProcessAirplaneCallback(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop,
                                      int inCounter, void *inRefcon);

// The co-pilot's head to the right-hand seat when the view changes; run by the frame loop every frame
// and by the first-scene phase where it is drawn (a second run in one frame changes nothing).
int SkorvaleDC3DCockpit(XPLMDrawingPhase inPhase, int inIsBefore, void *inRefcon);
