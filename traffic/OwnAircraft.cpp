// Reporting the user's own aircraft: the location datagram each frame and the identity messages every 10 seconds.
#include "traffic/OwnAircraft.h"

#include <climits>
#include <string>

#include "core/SkorvaleSE.h"
#include "net/Connection.h"
#include "net/Protocol.h"
#include "net/SlotRequest.h"
#include "platform/Socket.h"
#include "platform/System.h"
#include "traffic/InstancedTraffic.h"
#include "traffic/ModelLoader.h"
#include "traffic/SmoothTraffic.h"
#include "traffic/TcasTargets.h"
#include "traffic/TrafficSlots.h"

namespace {

// The location message is rebuilt every frame in the same storage, so a frame allocates nothing once
// the buffer has grown to its working size.
std::string &LocationMessage() {
    static std::string message = [] {
        std::string text;
        text.reserve(512);
        return text;
    }();
    return message;
}

float ReadFloat(XPLMDataRef ref) { return ref ? XPLMGetDataf(ref) : 0.0f; }
int ReadInt(XPLMDataRef ref) { return ref ? XPLMGetDatai(ref) : 0; }

// The simulator cycle of the last location message.
int lastLocationCycle = INT_MIN;

XPLMFlightLoopID frameLoop = nullptr;

void MoveCoPilotHead() {
    int viewType = view ? XPLMGetDatai(view) : 0;
    // Only on the frame the view changes: a head the user moves afterwards is theirs until the next change.
    if (viewType != lastview && cockpitPosition == 1 && pilotheadx) {
        float headX = XPLMGetDataf(pilotheadx);
        if (headX < 0) XPLMSetDataf(pilotheadx, -headX);
    }
    lastview = viewType;
}

// One location message per simulator cycle, however often the phases that send it run.
bool SendLocationOncePerCycle(int cycle) {
    if (cycle == lastLocationCycle || !SendLocationMessage()) return false;
    lastLocationCycle = cycle;
    return true;
}

// Reads the first `count` elements of an array; those the host does not supply stay 0.
void ReadFloats(XPLMDataRef ref, float *values, int count) {
    for (int i = 0; i < count; i++) values[i] = 0.0f;
    if (ref) XPLMGetDatavf(ref, values, 0, count);
}

}  // namespace

bool SendLocationMessage() {
    // The first location waits for the packet processor's first run after start.
    if (tcpconnected == 0 || shouldIDraw == 0) return false;

    XPLMDataRef local[3] = {gPlaneX, gPlaneY, gPlaneZ};
    // The world position is read as the doubles it is: a float steps 0.2 to 0.3 m at mid latitudes, and
    // peers with another local origin place this aircraft by it.
    XPLMDataRef world[3] = {gPlaneLat, gPlaneLon, gPlaneEl};
    XPLMDataRef scalars[11] = {gPlaneTheta, gPlanePhi,       gPlanePsi,   gPlaneFlap, gPlaneFlap2, gPlaneSpeedbrake,
                               gPlaneSlat,  gPlaneWingsweep, gPlanePitch, gPlaneRoll, gPlaneYaw};
    float values[11];
    for (int i = 0; i < 11; i++) values[i] = ReadFloat(scalars[i]);
    float gear[10], throttle[8];
    ReadFloats(gPlaneGear, gear, 10);
    ReadFloats(gPlaneThrottle, throttle, 8);
    int lights[5] = {ReadInt(gPlaneBeacon), ReadInt(gPlaneLanding), ReadInt(gPlaneStrobe), ReadInt(gPlaneNav),
                     ReadInt(gPlaneTaxi)};

    long long seconds = 0;
    long microseconds = 0;
    WallClockNow(&seconds, &microseconds);

    std::string &message = LocationMessage();
    message.clear();
    AddIntToString(&message, "", uniqueID);
    message += viewOnly ? "|VOLOC" : "|LOC";
    for (XPLMDataRef ref : local) AddFloatToString(&message, "|", ReadFloat(ref));
    for (XPLMDataRef ref : world) AddDoubleToString(&message, "|", ref ? XPLMGetDatad(ref) : 0.0);
    for (float value : values) AddFloatToString(&message, "|", value);
    for (float value : gear) AddFloatToString(&message, "|", value);
    for (int value : lights) AddIntToString(&message, "|", value);
    for (float value : throttle) AddFloatToString(&message, "|", value);
    AddFloatToString(&message, "|", (float)seconds);
    AddFloatToString(&message, "|", (float)microseconds);

    udptx = "Ux";
    SendDatagram(sockfd, message.data(), message.size(), serverAddress);
    return true;
}

int SkorvaleDrawPlanes(XPLMDrawingPhase, int, void *) {
    // The frame's loop has normally sent this frame's location already; this is for a simulator that
    // did not run it.
    return SendLocationOncePerCycle(XPLMGetCycleNumber()) ? 0 : 1;
}

float SkorvaleFrameCallback(float inElapsedSinceLastCall, float, int, void *) {
    // Run after the flight model: the location sent is where the aircraft is drawn this frame, not
    // where it was the frame before.
    SendLocationOncePerCycle(XPLMGetCycleNumber());
    MoveCoPilotHead();
    RequestSlotsFrame();
    // Instanced traffic draws none of the multiplayer aircraft: they are not chosen, moved or given models.
    if (!trafficModels) {
        UpdateTrafficSlots();
        LoadPendingModels(inElapsedSinceLastCall);
    }
    SmoothTrafficFrame(inElapsedSinceLastCall);
    InstancedTrafficFrame(inElapsedSinceLastCall);
    TcasTargetsFrame();
    return -1.0f;
}

void StartFrameLoop() {
    if (frameLoop) return;
    XPLMCreateFlightLoop_t params = {};
    params.structSize = (int)sizeof params;
    params.phase = xplm_FlightLoop_Phase_AfterFlightModel;
    params.callbackFunc = SkorvaleFrameCallback;
    params.refcon = nullptr;
    frameLoop = XPLMCreateFlightLoop(&params);
    if (frameLoop) XPLMScheduleFlightLoop(frameLoop, -1.0f, 1);
}

void StopFrameLoop() {
    if (frameLoop) XPLMDestroyFlightLoop(frameLoop);
    frameLoop = nullptr;
}

float SkorvaleProcessAirplaneCallback(float, float, int, void *) {
    // Polled each second while disconnected, so the identity follows a connect within a second.
    if (tcpconnected == 0) return 1.0f;

    std::string plane, callsign, crew;
    AddIntToString(&plane, "", uniqueID);
    AddIntToString(&callsign, "", uniqueID);
    AddIntToString(&crew, "", uniqueID);

    // The host fills up to 256 bytes of file name and 512 of path.
    char fileName[256] = {}, path[512] = {};
    XPLMGetNthAircraftModel(0, fileName, path);
    path[sizeof path - 1] = '\0';

    if (viewOnly == 0) {
        plane += "|PLANE|";
        plane += path;
        plane += "\n";
        tcptx = "Tx";
        SendOnStream(plane);
        callsign += "|CALLSIGN|";
        crew += "|CREWID|";
    } else {
        callsign += "|VOCALLSIGN|";
    }
    callsign += myCallsign;
    callsign += "|\n";

    if (flightMode == 1) {
        crew += crewID;
        AddIntToString(&crew, "|", cockpitPosition);
    } else {
        crew += "BLANK|0";
    }
    crew += "|\n";

    tcptx = "Tx";
    SendOnStream(callsign);
    // A view-only user flies in no crew, so it sends no crew message.
    if (viewOnly == 0) SendOnStream(crew);
    return 10.0f;
}

int SkorvaleDC3DCockpit(XPLMDrawingPhase, int, void *) {
    MoveCoPilotHead();
    return 1;
}
