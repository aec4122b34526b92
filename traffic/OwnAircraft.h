// Reporting the user's own aircraft: the location datagram each frame and the identity messages every 10 seconds.
#pragma once

#include "core/HostInterface.h"

// All of these run on the simulation thread only.

// Builds the location message from the own data references and sends it now, when connected and the
// packet processor has run since start. True when it was sent.
bool SendLocationMessage();

// The location message goes out once per frame, from whichever of these runs first in it: the
// per-frame flight loop, created to run after the flight model has moved the aircraft, else the
// airplanes drawing phase (X-Plane 11 with OpenGL; Vulkan and Metal never run the 3-D phases).
// The frame loop also chooses the slots drawn, loads models and draws smoothed traffic.
int SkorvaleDrawPlanes(XPLMDrawingPhase inPhase, int inIsBefore, void *inRefcon);
float SkorvaleFrameCallback(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop, int inCounter,
                            void *inRefcon);

// Creates and schedules the frame loop (plug-in start), and destroys it (stop).
void StartFrameLoop();
void StopFrameLoop();

float SkorvaleProcessAirplaneCallback(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop,
                                      int inCounter, void *inRefcon);

// The co-pilot's head to the right-hand seat when the view changes; run by the frame loop every frame
// and by the first-scene phase where it is drawn (a second run in one frame changes nothing).
int SkorvaleDC3DCockpit(XPLMDrawingPhase inPhase, int inIsBefore, void *inRefcon);
