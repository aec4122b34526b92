// The crewed redirect: the crew's pilot flying the user's own aircraft, and the plane-path override it needs.
#pragma once

class Aircraft;

// How long the override outlives the last datagram of the crew's pilot: a pilot who left, a crew ID
// that changed on either side, or a lost server would otherwise leave the user's aircraft frozen.
constexpr double kCrewSilenceLimit = 2.0;

// The slot a received datagram for `slot` acts on. In crewed mode, in a seat other than the pilot's and
// with a crew ID, a slot whose crew ID is the user's is the crew's pilot: its datagrams move the user's
// own aircraft (slot 0), and the first of them takes the plane-path override from the host. Otherwise
// `slot` itself. Simulation thread only, like everything here.
int RedirectSlot(int slot);

// The velocity of the crew's pilot from its successive datagrams, into `record` (the user's aircraft)
// before it is written: the flight model carries on with it when the override ends. Datagrams handled
// in the same packet-processor call count as one moment; the velocity spans from the last position of
// the call before.
void TrackPilotMotion(Aircraft &record);

// Moves the redirect's clock on by one packet-processor interval (the flight loop's elapsed time).
void AdvanceRedirectClock(float elapsedSeconds);

// Hands the override back once the redirect no longer fits the user's settings (Solo, the pilot's seat,
// no crew ID) or no datagram of the crew's pilot has come for kCrewSilenceLimit seconds.
void ReleaseIdleRedirect();

// Hands the plane-path override back to the host if the plug-in holds it (on any disconnect, too).
void ReleasePlanePath();
