// The unique ID the plug-in gives the server for one login.
#pragma once

// A positive int from the system's random source, drawn for every login attempt. Two pilots who start in
// the same second must not share it (the server refuses the second), so it is not seeded from the time.
// Never blocks: if the kernel's source is not ready, the time and process ID stand in.
int DrawUniqueId();
