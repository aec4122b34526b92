// The simulator's multiplayer aircraft: asked for once logged in, given back at disconnect and on disable.
#pragma once

// All of it runs on the simulation thread only.

// 1 while the plug-in holds the multiplayer aircraft. X-Plane grants them to one plug-in at a time;
// without them nothing may be written to the multiplayer data references and no model loaded.
extern int planesAcquired;

// How many aircraft the simulator shows, the user's included (XPLMCountAircraft): the pilot's AI
// aircraft setting plus one. Slots from this number on are not shown.
int ShownAircraftCount();

// Another plug-in sent XPLM_MSG_RELEASE_PLANES: given back at once while offline, kept while connected.
void ReleasePlanesRequested();

// Asks for the aircraft: takes them now when granted, or as soon as the plug-in that holds them lets go.
void AcquirePlanes();

// Gives the aircraft back (the active count to 0 first, while still held) and stops waiting for them.
void ReleasePlanes();

// Called by the simulator when the aircraft another plug-in held become available.
void SkorvalePlanesAvailable(void *inRefcon);
