// Which relay slot the simulator draws as which multiplayer aircraft: the nearest pilots in the aircraft shown.
#include "traffic/TrafficSlots.h"

#include "core/SkorvaleSE.h"
#include "traffic/AircraftUtils.h"
#include "traffic/PlaneAccess.h"

namespace {

// The choice is made again at most this often, and a hidden peer takes a shown one's aircraft only
// when it is nearer by this factor: a peer flying beside the farthest shown one does not make the two
// swap models back and forth.
constexpr double kSecondsBetweenChoices = 3.0;
constexpr double kClearlyNearer = 0.75;

// Where an unoccupied aircraft below the active count waits: 1000 km south of the user and 100 km
// below sea level, under the surface and beyond the horizon, any view and the TCAS range. Parked anew
// at every choice, so a long flight never brings it near.
constexpr float kParkSouth = 1.0e6f;
constexpr float kParkBelow = 1.0e5f;

bool occupied[kSlotCount];
int aircraftOf[kSlotCount];  // relay slot -> simulator aircraft, 0 for none
int slotIn[kAircraftCount];  // simulator aircraft -> relay slot, 0 for none
double lastChoice = -1e9;    // simulator seconds
int writtenActive = -1;      // the active count last set, -1 when unknown
unsigned generation = 1;

double Now() {
    static XPLMDataRef clock = XPLMFindDataRef("sim/time/total_running_time_sec");
    return clock ? XPLMGetDataf(clock) : 0.0;
}

// The multiplayer aircraft the simulator shows: its total less the user's own.
int ShownCount() {
    int shown = ShownAircraftCount() - 1;
    return shown < 0 ? 0 : (shown > kAircraftCount - 1 ? kAircraftCount - 1 : shown);
}

void Assign(int slot, int aircraft) {
    if (aircraftOf[slot] != 0) slotIn[aircraftOf[slot]] = 0;
    if (aircraft != 0) {
        if (slotIn[aircraft] != 0) {
            aircraftOf[slotIn[aircraft]] = 0;
            AircraftList[slotIn[aircraft]].ShowAs(0);
        }
        slotIn[aircraft] = slot;
    }
    aircraftOf[slot] = aircraft;
    AircraftList[slot].ShowAs(aircraft);
    // Drawn at once where it was last reported, not where the aircraft's previous occupant left it.
    if (aircraft != 0) AircraftList[slot].SetAircraftData();
    generation++;
}

// A free shown aircraft for `slot`: its own number when that is shown and free, else the lowest free.
int FreeAircraftFor(int slot, int shown) {
    if (slot <= shown && slotIn[slot] == 0) return slot;
    for (int k = 1; k <= shown; k++) {
        // Another occupied slot's own number is kept for it when something else is free.
        if (slotIn[k] == 0 && !occupied[k]) return k;
    }
    for (int k = 1; k <= shown; k++) {
        if (slotIn[k] == 0) return k;
    }
    return 0;
}

void ParkAndCount() {
    if (!planesAcquired) return;
    int highest = 0;
    for (int k = 1; k < kAircraftCount; k++) {
        if (slotIn[k] != 0) highest = k;
    }
    int active = highest + 1;
    if (active != writtenActive) {
        XPLMSetActiveAircraftCount(active);
        writtenActive = active;
    }
    float x = gPlaneX ? (float)XPLMGetDatad(gPlaneX) : 0.0f;
    float z = gPlaneZ ? (float)XPLMGetDatad(gPlaneZ) : 0.0f;
    for (int k = 1; k < highest; k++) {
        if (slotIn[k] == 0) ParkAircraft(k, x, -kParkBelow, z + kParkSouth);
    }
}

// The choice proper: shown peers beyond what the simulator shows give their aircraft up, those the
// simulator shows again go home to their own number, free aircraft go to the nearest hidden peers,
// and a hidden peer clearly nearer than the farthest shown one takes its aircraft.
void Choose() {
    int shown = ShownCount();
    for (int s = 1; s < kSlotCount; s++) {
        if (aircraftOf[s] > shown) Assign(s, 0);
    }
    for (int s = 1; s <= shown; s++) {
        if (occupied[s] && aircraftOf[s] != s && slotIn[s] == 0) Assign(s, s);
    }
    // Each round shows one more peer or swaps one nearer peer in, which shortens the shown distances:
    // the bound only guards against a mistake.
    for (int round = 0; round < kSlotCount * kSlotCount; round++) {
        int nearestHidden = 0;
        for (int s = 1; s < kSlotCount; s++) {
            if (!occupied[s] || aircraftOf[s] != 0) continue;
            if (nearestHidden == 0 || SlotDistanceSquared(s) < SlotDistanceSquared(nearestHidden)) nearestHidden = s;
        }
        if (nearestHidden == 0) break;
        int free = FreeAircraftFor(nearestHidden, shown);
        if (free != 0) {
            Assign(nearestHidden, free);
            continue;
        }
        int farthestShown = 0;
        for (int s = 1; s < kSlotCount; s++) {
            if (aircraftOf[s] == 0) continue;
            if (farthestShown == 0 || SlotDistanceSquared(s) > SlotDistanceSquared(farthestShown)) farthestShown = s;
        }
        if (farthestShown == 0 ||
            SlotDistanceSquared(nearestHidden) >= kClearlyNearer * kClearlyNearer * SlotDistanceSquared(farthestShown))
            break;
        Assign(nearestHidden, aircraftOf[farthestShown]);
    }
}

}  // namespace

void ResetTrafficSlots() {
    for (int s = 0; s < kSlotCount; s++) {
        occupied[s] = false;
        aircraftOf[s] = 0;
        if (s > 0) AircraftList[s].ShowAs(0);
    }
    for (int &slot : slotIn) slot = 0;
    lastChoice = -1e9;
    generation++;
    ParkAndCount();
}

void MarkSlotOccupied(int slot) {
    if (slot < 1 || slot >= kSlotCount || occupied[slot]) return;
    occupied[slot] = true;
    generation++;
    int free = FreeAircraftFor(slot, ShownCount());
    if (free != 0) Assign(slot, free);
    ParkAndCount();
}

void MarkSlotVacated(int slot) {
    if (slot < 1 || slot >= kSlotCount || !occupied[slot]) return;
    occupied[slot] = false;
    Assign(slot, 0);
    ParkAndCount();
}

void UpdateTrafficSlots() {
    double now = Now();
    // A clock that went back (a new flight) makes the choice due at once.
    if (now < lastChoice || now - lastChoice >= kSecondsBetweenChoices) {
        lastChoice = now;
        Choose();
        // Parked aircraft follow the user, however far the flight goes; the distances in the plane list
        // are new.
        writtenActive = -1;
        generation++;
        ParkAndCount();
    }
}

void RewriteTrafficSlots() {
    writtenActive = -1;
    ParkAndCount();
}

int AircraftOfSlot(int slot) { return slot >= 1 && slot < kSlotCount ? aircraftOf[slot] : 0; }

SlotShown SlotState(int slot) {
    if (slot < 1 || slot >= kSlotCount || !occupied[slot]) return SlotShown::Empty;
    if (aircraftOf[slot] == 0) return SlotShown::BeyondAircraft;
    return SlotDistanceSquared(slot) > kVisualRangeMetres * kVisualRangeMetres ? SlotShown::TooFar : SlotShown::Shown;
}

double SlotDistanceSquared(int slot) {
    const Aircraft &a = AircraftList[slot];
    double dx = a.x - (gPlaneX ? XPLMGetDatad(gPlaneX) : 0.0);
    double dy = a.y - (gPlaneY ? XPLMGetDatad(gPlaneY) : 0.0);
    double dz = a.z - (gPlaneZ ? XPLMGetDatad(gPlaneZ) : 0.0);
    return dx * dx + dy * dy + dz * dz;
}

unsigned TrafficSlotsGeneration() { return generation; }
