// Callsign labels beside the traffic out of the window, drawn in 2-D from the simulator's view matrices.
#pragma once

#include "core/HostInterface.h"

// All of it runs on the simulation thread only.

// XPluginStart / XPluginStop: the drawing callback and the command skorvale/toggle_labels.
void StartTrafficLabels();
void StopTrafficLabels();

// The 2-D drawing callback (after the windows): each present peer within `labelRangeKm` of the user that
// lies in front of the view gets its callsign (and, with `labelDetails`, its distance and height
// difference) on a dark box just above it. Nothing is drawn while `trafficLabels` is 0 or offline.
int DrawTrafficLabels(XPLMDrawingPhase inPhase, int inIsBefore, void *inRefcon);
