// Flight loops: when they are first called, how their return value schedules them, and safe unregistering.
#include <vector>

#include "HostFixture.h"
#include "XPLMProcessing.h"

namespace {

using simhosttest::HostTest;

struct Call {
    long frame;
    double now;
    float sinceLastCall;
    float sinceLastFrame;
    int counter;
};

struct Recorder {
    std::vector<Call> calls;
    std::vector<float> answers;  // returned in turn; the last one repeats
};

float Record(float sinceLastCall, float sinceLastFrame, int counter, void *refcon) {
    auto *r = static_cast<Recorder *>(refcon);
    simhost::Host &host = simhost::TheHost();
    r->calls.push_back({host.FrameCount(), host.Now(), sinceLastCall, sinceLastFrame, counter});
    size_t i = std::min(r->calls.size() - 1, r->answers.size() - 1);
    return r->answers[i];
}

TEST_F(HostTest, FlightLoopRunsFirstAfterItsIntervalThenAsItAsks) {
    Recorder r;
    r.answers = {0.25f, -2.0f, -1.0f, 0.0f};
    XPLMRegisterFlightLoopCallback(Record, 0.5f, &r);
    host.RunFrames(29);
    EXPECT_TRUE(r.calls.empty()) << "called before its first interval passed";
    host.RunFor(2.0);
    ASSERT_EQ(r.calls.size(), 4u) << "0 must stop it";
    // At 60 frames per second: frame 30 is t = 0.5; 0.25 s later is frame 45; then 2 frames; then 1.
    EXPECT_EQ(r.calls[0].frame, 30);
    EXPECT_EQ(r.calls[1].frame, 45);
    EXPECT_EQ(r.calls[2].frame, 47);
    EXPECT_EQ(r.calls[3].frame, 48);
    EXPECT_NEAR(r.calls[0].sinceLastCall, 0.5f, 1e-4) << "first call: time since registration";
    EXPECT_NEAR(r.calls[1].sinceLastCall, 0.25f, 1e-4);
    EXPECT_NEAR(r.calls[2].sinceLastCall, 2.0f / 60, 1e-4);
    EXPECT_NEAR(r.calls[0].sinceLastFrame, 1.0f / 60, 1e-6);
    EXPECT_EQ(r.calls[0].counter, 30);
    ASSERT_EQ(host.FlightLoops().size(), 1u) << "a stopped loop stays registered";
    EXPECT_FALSE(host.FlightLoops()[0].scheduled);
}

TEST_F(HostTest, FlightLoopRegisteredWithZeroNeverRunsAndFrameCountsSurviveOtherRates) {
    Recorder idle;
    idle.answers = {1.0f};
    XPLMRegisterFlightLoopCallback(Record, 0.0f, &idle);
    host.SetFrameRate(20);
    Recorder every;
    every.answers = {-1.0f};
    XPLMRegisterFlightLoopCallback(Record, -1.0f, &every);
    host.RunFor(1.0);
    EXPECT_TRUE(idle.calls.empty());
    EXPECT_EQ(every.calls.size(), 20u) << "-1 means every frame, whatever the frame rate";
    EXPECT_NEAR(host.Now(), 1.0, 1e-9);
}

TEST_F(HostTest, LongRunsKeepTheirRhythm) {
    // A 0.03 s loop over 60 s of 60 fps frames: exactly one call per frame where 0.03 s have passed,
    // i.e. every second frame (1/60 s each), with no slip from float rounding.
    Recorder r;
    r.answers = {0.03f};
    XPLMRegisterFlightLoopCallback(Record, 0.03f, &r);
    host.RunFor(60);
    EXPECT_EQ(r.calls.size(), 1800u);
    for (size_t i = 1; i < r.calls.size(); ++i) ASSERT_EQ(r.calls[i].frame - r.calls[i - 1].frame, 2) << i;
}

struct SelfRemover {
    int calls = 0;
    Recorder *other = nullptr;
};

float RemoveSelfAndOther(float, float, int, void *refcon) {
    auto *s = static_cast<SelfRemover *>(refcon);
    ++s->calls;
    XPLMUnregisterFlightLoopCallback(RemoveSelfAndOther, refcon);
    XPLMUnregisterFlightLoopCallback(Record, s->other);
    // Registering from inside a callback must be safe too; the new loop waits for its own interval.
    XPLMRegisterFlightLoopCallback(Record, -1.0f, &s->other[1]);
    return -1;
}

TEST_F(HostTest, UnregisteringAndRegisteringInsideACallbackIsSafe) {
    Recorder others[2];
    others[0].answers = {-1.0f};
    others[1].answers = {-1.0f};
    SelfRemover remover;
    remover.other = others;
    XPLMRegisterFlightLoopCallback(RemoveSelfAndOther, -1.0f, &remover);
    XPLMRegisterFlightLoopCallback(Record, -1.0f, &others[0]);
    host.RunFrames(5);
    EXPECT_EQ(remover.calls, 1);
    EXPECT_TRUE(others[0].calls.empty()) << "a loop unregistered earlier in the same frame must not run";
    EXPECT_EQ(others[1].calls.size(), 4u) << "registered in frame 1, then called every frame from frame 2";
    ASSERT_EQ(host.FlightLoops().size(), 1u);
    EXPECT_EQ(host.FlightLoops()[0].refcon, &others[1]);
}

TEST_F(HostTest, UnregisterMatchesCallbackAndRefconAndDuplicatesStayVisible) {
    Recorder a, b;
    a.answers = b.answers = {-1.0f};
    XPLMRegisterFlightLoopCallback(Record, -1.0f, &a);
    XPLMRegisterFlightLoopCallback(Record, -1.0f, &a);  // a plug-in bug lifecycle tests should see
    XPLMRegisterFlightLoopCallback(Record, -1.0f, &b);
    EXPECT_EQ(host.FlightLoops().size(), 3u);
    XPLMUnregisterFlightLoopCallback(Record, &b);
    XPLMUnregisterFlightLoopCallback(Record, &b);  // already gone: harmless
    XPLMUnregisterFlightLoopCallback(Record, &a);
    host.RunFrame();
    EXPECT_EQ(a.calls.size(), 1u);
    EXPECT_TRUE(b.calls.empty());
}

}  // namespace

namespace {

double userXSeen = 0;

float ReadUserX(float, float, int, void *refcon) {
    *static_cast<double *>(refcon) = simhost::TheHost().GetDataRef("sim/flightmodel/position/local_x");
    return -1.0f;
}

}  // namespace

// A loop created for after the flight model sees the aircraft where this frame moved it; one created
// for before sees where the last frame left it. Created loops wait for their schedule, and stop when
// destroyed, as X-Plane's do.
TEST_F(HostTest, CreatedFlightLoopsRunInTheirPhase) {
    double beforeSeen = 0;
    XPLMCreateFlightLoop_t params = {sizeof(XPLMCreateFlightLoop_t), xplm_FlightLoop_Phase_AfterFlightModel, ReadUserX,
                                     &userXSeen};
    XPLMFlightLoopID after = XPLMCreateFlightLoop(&params);
    params.phase = xplm_FlightLoop_Phase_BeforeFlightModel;
    params.refcon = &beforeSeen;
    XPLMFlightLoopID before = XPLMCreateFlightLoop(&params);
    ASSERT_NE(after, nullptr);
    host.SetHeading(90);
    host.SetGroundSpeed(60);
    host.RunFrames(3);
    EXPECT_EQ(userXSeen, 0.0) << "not scheduled yet";
    XPLMScheduleFlightLoop(after, -1.0f, 1);
    XPLMScheduleFlightLoop(before, -1.0f, 1);
    host.RunFrame();
    double x = host.GetDataRef("sim/flightmodel/position/local_x");
    EXPECT_EQ(userXSeen, x);
    EXPECT_NEAR(x - beforeSeen, 1.0, 0.01) << "a frame's metre at 60 m/s";
    XPLMDestroyFlightLoop(after);
    host.RunFrame();
    EXPECT_EQ(userXSeen, x);
    EXPECT_EQ(host.FlightLoops().size(), 1u);
}
