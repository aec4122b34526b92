// The plug-in's menu and its settings pane, built with the simulator's widget library.
#pragma once

#include "core/HostInterface.h"

void SkorvaleMenuCallback(void *inMenuRef, void *inItemRef);
void CreatePrefPane(int width, int height);
void InitializePrefPane();
int PrefPaneHandler(XPWidgetMessage inMessage, XPWidgetID inWidget, intptr_t inParam1, intptr_t inParam2);
