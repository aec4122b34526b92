// The settings file "Resources/plugins/svprefs.txt": reading it into the settings globals and writing them back.
#pragma once

// Called on the simulation thread only (entry functions and the settings pane).
void LoadPreferences();
void SavePreferences();
