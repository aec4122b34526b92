// Which relay slot the simulator draws as which multiplayer aircraft: the nearest pilots in the aircraft shown.
#pragma once

// All of it runs on the simulation thread only.
//
// The relay numbers peers 1..19 (1..63 with instanced traffic) in the order they came; the simulator
// draws only its first
// multiplayer aircraft (as many as the pilot's AI aircraft setting). While every peer's slot number
// is one the simulator shows, slot N is drawn as aircraft N. When a peer sits beyond them, the
// nearest peers are moved into the aircraft shown; a hidden peer takes a shown one's aircraft only
// when it is clearly nearer, and the choice is made again at most every few seconds, so models
// do not churn.
//
// An aircraft no peer occupies is never drawn where the pilot can see it: the active aircraft count
// ends after the highest occupied aircraft (X-Plane draws none beyond it), and an unoccupied one below
// that is parked a thousand kilometres away and a hundred below the surface, beyond the horizon, any
// view and the TCAS range.

// Why a slot's peer is not drawn where it flies.
enum class SlotShown {
    Empty,          // no peer, or no location from it yet
    Shown,          // drawn, with its own model when within the visual range
    TooFar,         // drawn, but beyond the visual range: it keeps the model its aircraft has
    BeyondAircraft  // not drawn: the simulator shows fewer aircraft and nearer peers have them
};

// Models are loaded only for peers within this distance of the user's aircraft.
constexpr double kVisualRangeMetres = 40000.0;

// Forgets every peer and unbinds every slot record (plug-in start, disconnect).
void ResetTrafficSlots();

// A location for `slot` arrived: its peer is there, and takes a free shown aircraft at once.
void MarkSlotOccupied(int slot);

// The relay emptied `slot` (its pilot left): its aircraft is parked and ends the active count.
void MarkSlotVacated(int slot);

// Once a frame: the choice again when due, the active count and the parked aircraft. Writes to the
// simulator only while the plug-in holds the multiplayer aircraft.
void UpdateTrafficSlots();

// The simulator's multiplayer aircraft the peer of `slot` is drawn as, 0 when none.
int AircraftOfSlot(int slot);

// How `slot` is drawn, for the plane list.
SlotShown SlotState(int slot);

// Squared distance, in metres, from the user's aircraft to the last position of `slot`'s peer.
double SlotDistanceSquared(int slot);

// Counts every change of the choice (and of occupancy): the plane list rebuilds its rows only then.
unsigned TrafficSlotsGeneration();

// After the aircraft were (re)acquired: the active count and parked aircraft are written again.
void RewriteTrafficSlots();
