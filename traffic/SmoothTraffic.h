// Smoothed traffic: each slot's timestamped samples, drawn every frame a little in the past.
#pragma once

#include <string_view>

class Aircraft;

// The sender's clock from the two fields after a location's last throttle (whole seconds written as a
// float, then microseconds), put on one timeline with the arrival times. A float holds today's
// whole seconds only to a multiple of 128, so the whole second is the one that puts the exact
// microseconds nearest to where the arrivals say the sender's clock has got to (the last sender time
// plus the arrival time since), and nearest the arrival time itself for a slot's first sample; the
// float only vets that pick. False when the fields are missing, no numbers or out of range.
struct SenderClock {
    bool valid = false;
    double senderTime = 0;   // combined seconds, on the sender's clock
    double arrivalTime = 0;  // our wall clock when it came
};
bool CombineSenderTime(std::string_view clockFields, double arrival, const SenderClock &previous, double *out);

// Takes the record's just-decoded position and attitude as a sample of its slot, instead of writing
// them at once. `clockFields` is the text after the last throttle's "|" (may be empty). Simulation
// thread only, like everything here.
void TakeTrafficSample(const Aircraft &record, std::string_view clockFields);

// Once a frame, from the per-frame flight loop: while smoothing is on, writes each slot's position and
// attitude for now minus its playout delay. Does nothing while it is off.
void SmoothTrafficFrame(float elapsedSinceLastFrame);

// Forgets every slot's samples (the option switched, a disconnect).
void ResetSmoothTraffic();
// Forgets one slot's samples: another aircraft has it now.
void ResetTrafficSlot(int slot);
