// The packet processor: drains the datagram channel, then the stream channel, once per flight loop.
#pragma once

float SkorvalePacketProcess(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop, int inCounter,
                            void *inRefcon);
