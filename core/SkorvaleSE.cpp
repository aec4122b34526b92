// The plug-in module: its five entry functions and the module-wide state they set up.
#include "core/SkorvaleSE.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/Preferences.h"
#include "core/SimulatorPath.h"
#include "core/UniqueId.h"
#include "net/Connection.h"
#include "net/PacketProcess.h"
#include "platform/Socket.h"
#include "traffic/AircraftUtils.h"
#include "traffic/InstancedTraffic.h"
#include "traffic/OwnAircraft.h"
#include "traffic/PlaneAccess.h"
#include "traffic/SmoothTraffic.h"
#include "traffic/TrafficSlots.h"
#include "ui/ChatWindows.h"
#include "ui/PrefPane.h"
#include "ui/TrafficLabels.h"

int pwinw = 270;
int pwinh = 320;
int twinw = 500;
int twinh = 320;
int winbuff = 20;

XPLMWindowID gWindow = nullptr;
XPLMWindowID imReadWin = nullptr;
XPLMMenuID PlaneMenu = nullptr;
XPLMCommandRef toggleChatCommand = nullptr;
int uniqueID = 0;
int viewOnly = 0;

XPLMDataRef gPlaneX, gPlaneY, gPlaneZ;
XPLMDataRef gPlaneLat, gPlaneLon, gPlaneEl;
XPLMDataRef gPlaneTheta, gPlanePhi, gPlanePsi;
XPLMDataRef gPlaneFlap, gPlaneFlap2, gPlaneSpeedbrake, gPlaneSlat, gPlaneWingsweep;
XPLMDataRef gPlanePitch, gPlaneRoll, gPlaneYaw;
XPLMDataRef gPlaneGear, gPlaneThrottle;
XPLMDataRef gPlaneBeacon, gPlaneLanding, gPlaneStrobe, gPlaneNav, gPlaneTaxi;
XPLMDataRef view, pilotheadx;
int lastview = 0;

std::string myCallsign;
std::string userID;
std::string password;
std::string crewID;
int flightMode = 0;
int cockpitPosition = 0;
int connectAtStartup = 0;
int smoothTraffic = 0;
int trafficModels = 0;
int trafficLabels = 1;
int labelRangeKm = kDefaultLabelRangeKm;
int labelDetails = 0;
std::string serverSetting;
std::string defaultModel;

int sockfd = 0;
int tsockfd = 0;
int tcpconnected = 0;
struct sockaddr_in serverAddress;
int size = 0;
socklen_t serverLength = 0;
std::string tcpBuffer;
int shouldIDraw = 0;
int overridden = 0;
std::string recvstring;
std::string tcptx, tcprx, udptx, udprx;

std::string imRead[14];
std::string imWrite;
int imWriteFocus = 0;
int flashCursor = 0;
int showPlaneWindow = 0;
int showChatWindow = 0;
int networkShowChatOverride = 0;
int newTextRcvd = 0;
float chatOpacity = 0.0f;

int PrefPane = 0;
XPWidgetID PrefPaneWidget, PrefPaneWindow;
XPWidgetID UserIDT, UserIDF, PasswordT, PasswordF, CallsignT, CallsignF;
XPWidgetID FlightModeT, FlightModeB1, FlightModeB2;
XPWidgetID PositionT, PositionB1, PositionB2, PositionB3, PositionB4;
XPWidgetID CrewIDT, CrewIDF;
XPWidgetID CancelB, SaveB, ApplyB, ConnectStartB, ConnectB, DisconnectB, SmoothTrafficB;
XPWidgetID TrafficModelsB = nullptr, TrafficLabelsB = nullptr, LabelRangeF = nullptr;
XPWidgetID ServerT, ServerF, StatusT;

namespace {

const char kViewOnlyMarker[] = "Resources/plugins/viewonly.txt";

void CopyOut(char *buffer, const char *text) {
    // The simulator hands us 256-byte buffers.
    std::snprintf(buffer, 256, "%s", text);
}

}  // namespace

PLUGIN_API int XPluginStart(char *outName, char *outSig, char *outDesc) {
    CopyOut(outName, "Skorvale");
    CopyOut(outSig, "org.skorvale.multiplayer");
    CopyOut(outDesc, "A plugin that provides for high-res network play. (Alpha releases)");

    // Unix-style full paths on every system: without this, X-Plane on macOS names files with colons
    // (HFS paths) and on Windows with backslashes, and the paths built from XPLMGetSystemPath would not
    // open with the C library.
    XPLMEnableFeature("XPLM_USE_NATIVE_PATHS", 1);

    for (int i = 0; i < kSlotCount; i++) AircraftList[i].set(i);
    // No peer yet: no slot is drawn.
    ResetTrafficSlots();

    int item = XPLMAppendMenuItem(XPLMFindPluginsMenu(), "Skorvale", nullptr, 1);
    PlaneMenu = XPLMCreateMenu("Plane Window", XPLMFindPluginsMenu(), item, SkorvaleMenuCallback, nullptr);
    // The item references are texts; the menu handler compares them as text.
    XPLMAppendMenuItem(PlaneMenu, "Control & Settings", (void *)"1", 1);
    XPLMAppendMenuItem(PlaneMenu, "Toggle Plane List", (void *)"2", 1);

    gPlaneX = XPLMFindDataRef("sim/flightmodel/position/local_x");
    gPlaneY = XPLMFindDataRef("sim/flightmodel/position/local_y");
    gPlaneZ = XPLMFindDataRef("sim/flightmodel/position/local_z");
    gPlaneLat = XPLMFindDataRef("sim/flightmodel/position/latitude");
    gPlaneLon = XPLMFindDataRef("sim/flightmodel/position/longitude");
    gPlaneEl = XPLMFindDataRef("sim/flightmodel/position/elevation");
    gPlaneTheta = XPLMFindDataRef("sim/flightmodel/position/theta");
    gPlanePhi = XPLMFindDataRef("sim/flightmodel/position/phi");
    gPlanePsi = XPLMFindDataRef("sim/flightmodel/position/psi");
    gPlaneFlap = XPLMFindDataRef("sim/flightmodel/controls/flaprat");
    gPlaneFlap2 = XPLMFindDataRef("sim/flightmodel/controls/flap2rat");
    gPlaneSpeedbrake = XPLMFindDataRef("sim/flightmodel/controls/sbrkrat");
    gPlaneSlat = XPLMFindDataRef("sim/flightmodel/controls/slatrat");
    gPlaneWingsweep = XPLMFindDataRef("sim/flightmodel/controls/swdi");
    gPlanePitch = XPLMFindDataRef("sim/joystick/FC_ptch");
    gPlaneRoll = XPLMFindDataRef("sim/joystick/FC_roll");
    gPlaneYaw = XPLMFindDataRef("sim/joystick/FC_hdng");
    gPlaneGear = XPLMFindDataRef("sim/aircraft/parts/acf_gear_deploy");
    gPlaneThrottle = XPLMFindDataRef("sim/flightmodel/engine/ENGN_thro");
    gPlaneBeacon = XPLMFindDataRef("sim/cockpit/electrical/beacon_lights_on");
    gPlaneLanding = XPLMFindDataRef("sim/cockpit/electrical/landing_lights_on");
    gPlaneStrobe = XPLMFindDataRef("sim/cockpit/electrical/strobe_lights_on");
    gPlaneNav = XPLMFindDataRef("sim/cockpit/electrical/nav_lights_on");
    gPlaneTaxi = XPLMFindDataRef("sim/cockpit/electrical/taxi_light_on");
    view = XPLMFindDataRef("sim/graphics/view/view_type");
    pilotheadx = XPLMFindDataRef("sim/graphics/view/pilots_head_x");

    uniqueID = DrawUniqueId();

    LoadPreferences();

    int screenWidth = 0, screenHeight = 0;
    XPLMGetScreenSize(&screenWidth, &screenHeight);

    int left = screenWidth - winbuff - pwinw;
    int top = screenHeight - twinh - 2 * winbuff;
    gWindow = XPLMCreateWindow(left, top, screenWidth - winbuff, top - pwinh, showPlaneWindow, DrawWindowCallback,
                               HandleKeyCallback, HandleMouseClickCallback, nullptr);

    left = screenWidth - winbuff - twinw;
    top = screenHeight - winbuff;
    imReadWin = XPLMCreateWindow(left, top, screenWidth - winbuff, top - twinh, showChatWindow, DrawWindowCallback,
                                 HandleKeyCallback, HandleMouseClickCallback, nullptr);

    XPLMRegisterDrawCallback(SkorvaleDrawPlanes, xplm_Phase_Airplanes, 0, nullptr);
    XPLMRegisterDrawCallback(SkorvaleDC3DCockpit, xplm_Phase_FirstScene, 0, nullptr);
    XPLMRegisterKeySniffer(MyKeySniffer, 0, nullptr);
    toggleChatCommand = XPLMCreateCommand("skorvale/toggle_chat", "Open or close the Skorvale chat");
    XPLMRegisterCommandHandler(toggleChatCommand, ToggleChatCommand, 1, nullptr);
    XPLMRegisterFlightLoopCallback(SkorvalePacketProcess, 0.03f, nullptr);
    XPLMRegisterFlightLoopCallback(SkorvaleProcessAirplaneCallback, 10.0f, nullptr);
    XPLMRegisterFlightLoopCallback(SkorvaleProcessCursorCallback, 1.0f, nullptr);
    XPLMRegisterFlightLoopCallback(SkorvaleProcessChatWinCallback, 1.0f, nullptr);
    XPLMRegisterFlightLoopCallback(SkorvaleChatWinOpacityCallback, 0.1f, nullptr);
    // Every frame after the flight model: the own location, the co-pilot's head where the 3-D phases are
    // never drawn, the slots drawn, model loads, smoothed traffic, instanced traffic and TCAS targets.
    StartFrameLoop();
    // Our models' data refs exist before any model loads; the labels draw in the window phase.
    StartInstancedTraffic();
    StartTrafficLabels();

    recvstring = "Network Traffic:";
    tcptx = "  ";
    tcprx = "  ";
    udptx = "  ";
    udprx = "  ";
    return 1;
}

PLUGIN_API void XPluginStop(void) {
    XPLMDestroyWindow(gWindow);
    XPLMDestroyWindow(imReadWin);
    XPLMDestroyMenu(PlaneMenu);
    if (PrefPane == 1) {
        XPDestroyWidget(PrefPaneWidget, 1);
        PrefPane = 0;
    }

    XPLMUnregisterDrawCallback(SkorvaleDrawPlanes, xplm_Phase_Airplanes, 0, nullptr);
    XPLMUnregisterDrawCallback(SkorvaleDC3DCockpit, xplm_Phase_FirstScene, 0, nullptr);
    XPLMUnregisterKeySniffer(MyKeySniffer, 0, nullptr);
    XPLMUnregisterCommandHandler(toggleChatCommand, ToggleChatCommand, 1, nullptr);
    XPLMUnregisterFlightLoopCallback(SkorvalePacketProcess, nullptr);
    XPLMUnregisterFlightLoopCallback(SkorvaleProcessAirplaneCallback, nullptr);
    XPLMUnregisterFlightLoopCallback(SkorvaleProcessCursorCallback, nullptr);
    XPLMUnregisterFlightLoopCallback(SkorvaleProcessChatWinCallback, nullptr);
    XPLMUnregisterFlightLoopCallback(SkorvaleChatWinOpacityCallback, nullptr);
    StopFrameLoop();
    StopTrafficLabels();
    StopInstancedTraffic();
    ResetSmoothTraffic();
    // A name lookup still running must end before this code may be unloaded.
    ResetConnection();

    ReleasePlanes();
}

PLUGIN_API int XPluginEnable(void) {
    // Only the marker's presence counts; nothing ever switches view-only mode off again.
    if (FILE *marker = std::fopen(InSimulatorFolder(kViewOnlyMarker).c_str(), "r")) {
        viewOnly = 1;
        std::fclose(marker);
    }

    LoadPreferences();

    // The multiplayer aircraft are asked for once the login is sent, not here: offline, X-Plane's own
    // AI traffic and other traffic plug-ins keep them.

    StartNetworking();
    if (connectAtStartup) ConnectToServer();
    return 1;
}

PLUGIN_API void XPluginDisable(void) {
    DisconnectFromServer();
    StopNetworking();
    ReleasePlanes();
    ClearInstancedTraffic();
    // A disabled plug-in draws nothing and takes no keys: both windows go, with the keyboard.
    ReleaseChatKeyboard();
    showPlaneWindow = 0;
    showChatWindow = 0;
    networkShowChatOverride = 0;
    chatOpacity = 0.0f;
    if (gWindow) XPLMSetWindowIsVisible(gWindow, 0);
    if (imReadWin) XPLMSetWindowIsVisible(imReadWin, 0);
}

PLUGIN_API void XPluginReceiveMessage(XPLMPluginID, int inMessage, void *) {
    if (IsReleasePlanesMessage(inMessage)) ReleasePlanesRequested();
}
