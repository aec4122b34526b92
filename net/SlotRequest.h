// How many aircraft slots the plug-in asks the relay for: every TCAS target with instanced traffic, else 19.
#pragma once

// Both run on the simulation thread only.
//
// The relay hands out slots 1..19 to a plug-in that never asks. With instanced traffic the simulator's
// aircraft count no longer limits what can be shown, so the plug-in asks for 63 ("<id>|SLOTS|63|") after
// each login, and for 19 again when the pilot turns it off. In the default mode nothing is ever sent: the
// stream is the same as before the line existed. A relay that does not know the line logs it and goes on.

// A new login: the relay starts this session at 19.
void ForgetSlotRequest();

// Once a frame: asks for what the mode wants when the relay was last told something else.
void RequestSlotsFrame();
