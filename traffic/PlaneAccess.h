// The simulator's multiplayer aircraft: asked for once logged in, given back at disconnect and on disable.
#pragma once

#include <string>

// All of it runs on the simulation thread only.

// 1 while the plug-in holds the multiplayer aircraft. X-Plane grants them to one plug-in at a time;
// without them nothing may be written to the multiplayer data references and no model loaded.
extern int planesAcquired;

// The name of the plug-in holding the aircraft while this one waits for them online, "" otherwise.
extern std::string planesHolderName;

// How many aircraft the simulator shows, the user's included (XPLMCountAircraft): the pilot's AI
// aircraft setting plus one. Slots from this number on are not shown.
int ShownAircraftCount();

// Another plug-in sent XPLM_MSG_RELEASE_PLANES: given back at once while offline, kept while connected.
void ReleasePlanesRequested();

// Asks for the aircraft: takes them now when granted (the AI off in aircraft 1..19), or as soon as the
// plug-in that holds them lets go, which is asked to once per connection and named in Log.txt.
void AcquirePlanes();

// Gives the aircraft back, when held, with the pilot's own active count of before, and stops waiting.
void ReleasePlanes();

// Whether a plug-in message is XPLM_MSG_RELEASE_PLANES (which older SDK headers do not name).
bool IsReleasePlanesMessage(int message);

// Called by the simulator when the aircraft another plug-in held become available.
void SkorvalePlanesAvailable(void *inRefcon);
