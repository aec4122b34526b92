// The unique ID this copy of the plug-in gives the server for one run.
#pragma once

// A non-negative int from the system's random source, drawn once per start. Two pilots who start in
// the same second must not share it (the server refuses the second), so it is not seeded from the time.
// Never blocks: if the kernel's source is not ready, the time and process ID stand in.
int DrawUniqueId();
