// Module-wide state of the plug-in: every global shared by its subsystems, owned from load to unload.
//
// All of it is touched only on the simulator's single simulation thread (entry functions and
// registered callbacks), so nothing here is locked or atomic.
#pragma once

#include <string>

#include "core/HostInterface.h"
#include "platform/Socket.h"

// Window geometry, in pixels.
extern int pwinw;
extern int pwinh;
extern int twinw;
extern int twinh;
extern int winbuff;

// Plug-in objects.
extern XPLMWindowID gWindow;
extern XPLMWindowID imReadWin;
extern XPLMMenuID PlaneMenu;
extern XPLMCommandRef toggleChatCommand;  // "skorvale/toggle_chat"
extern int uniqueID;
extern int viewOnly;

// Own-aircraft data references, bound at start.
extern XPLMDataRef gPlaneX, gPlaneY, gPlaneZ;
extern XPLMDataRef gPlaneLat, gPlaneLon, gPlaneEl;
extern XPLMDataRef gPlaneTheta, gPlanePhi, gPlanePsi;
extern XPLMDataRef gPlaneFlap, gPlaneFlap2, gPlaneSpeedbrake, gPlaneSlat, gPlaneWingsweep;
extern XPLMDataRef gPlanePitch, gPlaneRoll, gPlaneYaw;
extern XPLMDataRef gPlaneGear, gPlaneThrottle;
extern XPLMDataRef gPlaneBeacon, gPlaneLanding, gPlaneStrobe, gPlaneNav, gPlaneTaxi;
extern XPLMDataRef view, pilotheadx;
extern int lastview;

// Settings, stored in the settings file.
extern std::string myCallsign;
extern std::string userID;
extern std::string password;
extern std::string crewID;
extern int flightMode;       // 0 Solo, 1 Crewed
extern int cockpitPosition;  // 0 Pilot, 1 Co-Pilot, 2 Navigator, 3 Flight Engineer
extern int connectAtStartup;
extern int smoothTraffic;          // 1: traffic drawn every frame from timestamped samples
extern std::string serverSetting;  // "host" or "host:port"; empty: the built-in server
extern std::string defaultModel;   // the model for peers whose own is missing, under X-Plane's folder; "": stock
extern int trafficModels;          // 1: peers drawn as our own models (instances), announced on TCAS
extern int trafficLabels;          // 1: callsign labels beside the traffic (skorvale/toggle_labels)
extern int labelRangeKm;           // labels up to this distance, 1..100
extern int labelDetails;           // 1: labels also give distance and height difference
constexpr int kDefaultLabelRangeKm = 10;

// Networking.
extern int sockfd;        // datagram socket, 0 when closed
extern int tsockfd;       // stream socket, 0 when closed
extern int tcpconnected;  // 1 while the server connection is up
extern struct sockaddr_in serverAddress;
extern int size;
extern socklen_t serverLength;
extern std::string tcpBuffer;
extern int shouldIDraw;
extern int overridden;  // 1 while the plug-in holds the plane-path override of the user's aircraft
extern std::string recvstring;
extern std::string tcptx, tcprx, udptx, udprx;

// User interface: chat and plane-list windows.
extern std::string imRead[14];
extern std::string imWrite;
extern int imWriteFocus;
extern int flashCursor;
extern int showPlaneWindow;
extern int showChatWindow;
extern int networkShowChatOverride;
extern int newTextRcvd;
extern float chatOpacity;

// Settings pane.
extern int PrefPane;
extern XPWidgetID PrefPaneWidget, PrefPaneWindow;
extern XPWidgetID UserIDT, UserIDF, PasswordT, PasswordF, CallsignT, CallsignF;
extern XPWidgetID FlightModeT, FlightModeB1, FlightModeB2;
extern XPWidgetID PositionT, PositionB1, PositionB2, PositionB3, PositionB4;
extern XPWidgetID CrewIDT, CrewIDF;
extern XPWidgetID CancelB, SaveB, ApplyB, ConnectStartB, ConnectB, DisconnectB, SmoothTrafficB;
extern XPWidgetID TrafficModelsB, TrafficLabelsB, LabelRangeF;
extern XPWidgetID ServerT, ServerF, StatusT;

// Entry functions, called by the simulator.
PLUGIN_API int XPluginStart(char *outName, char *outSig, char *outDesc);
PLUGIN_API void XPluginStop(void);
PLUGIN_API int XPluginEnable(void);
PLUGIN_API void XPluginDisable(void);
PLUGIN_API void XPluginReceiveMessage(XPLMPluginID inFrom, int inMessage, void *inParam);
