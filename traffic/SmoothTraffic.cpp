// Smoothed traffic: each slot's timestamped samples, drawn every frame a little in the past.
#include "traffic/SmoothTraffic.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "core/SkorvaleSE.h"
#include "net/DatagramPhase.h"
#include "net/FieldDecode.h"
#include "platform/System.h"
#include "traffic/AircraftUtils.h"

namespace {

constexpr int kSamplesKept = 16;  // a quarter of a second at 60 a second: far more than the delay spans
constexpr int kStatsKept = 64;    // the recent arrivals the playout delay is taken from
constexpr double kShortestDelay = 0.010;
constexpr double kLongestDelay = 0.300;
constexpr double kFirstDelay = 0.050;        // until a few arrivals have been seen
constexpr double kExtrapolationLimit = 0.5;  // seconds past the newest sample before the aircraft holds
// The playout clock runs at most this much fast or slow while it follows a changing delay: a step
// change would show as one long or short frame.
constexpr double kSlewRate = 0.02;
constexpr double kCatchUpGap = 0.5;  // a playout clock this far behind (a stalled frame) jumps
// A sample further from the last than this speed allows (plus the slack) is a teleport or a new flight.
constexpr double kFastestSpeed = 1000.0;
constexpr double kJumpSlack = 30.0;
constexpr double kLongSilence = 5.0;
constexpr double kShortestSegment = 0.001;

struct Pose {
    double x = 0, y = 0, z = 0, lat = 0, lon = 0, el = 0, theta = 0, phi = 0, psi = 0;
};

struct Sample {
    double time = 0;
    Pose pose;
};

struct Slot {
    bool active = false;
    bool senderTimes = false;  // the samples' timeline: the sender's clock, or else our arrival times
    bool started = false;      // the playout clock has been set
    SenderClock clock;         // the newest sample's times
    Sample samples[kSamplesKept];
    int count = 0;  // oldest first
    double lateness[kStatsKept] = {};
    double intervals[kStatsKept] = {};
    int statCount = 0, statNext = 0;
    double offset = 0;  // arrival minus sender time at its least: our clock's lead plus the fastest trip
    double delay = kFirstDelay;
    double playout = 0;  // the moment drawn, on the samples' timeline
    Pose drawn;
};

Slot slots[kSlotCount];

double WallNow() {
    long long seconds = 0;
    long microseconds = 0;
    WallClockNow(&seconds, &microseconds);
    return (double)seconds + (double)microseconds * 1e-6;
}

// The difference b - a of two angles in degrees, folded into [-180, 180).
double AngleDelta(double a, double b) {
    double d = std::fmod(b - a + 180.0, 360.0);
    if (d < 0) d += 360.0;
    return d - 180.0;
}

double Fold(double angle, double low) {
    double d = std::fmod(angle - low, 360.0);
    if (d < 0) d += 360.0;
    return low + d;
}

Pose Blend(const Pose &a, const Pose &b, double f) {
    Pose p;
    p.x = a.x + f * (b.x - a.x);
    p.y = a.y + f * (b.y - a.y);
    p.z = a.z + f * (b.z - a.z);
    p.lat = a.lat + f * (b.lat - a.lat);
    p.lon = Fold(a.lon + f * AngleDelta(a.lon, b.lon), -180.0);
    p.el = a.el + f * (b.el - a.el);
    p.theta = a.theta + f * (b.theta - a.theta);
    p.phi = Fold(a.phi + f * AngleDelta(a.phi, b.phi), -180.0);
    p.psi = Fold(a.psi + f * AngleDelta(a.psi, b.psi), 0.0);
    return p;
}

double Distance(const Pose &a, const Pose &b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

Pose PoseOf(const Aircraft &record) {
    return {record.x, record.y, record.z, record.lat, record.lon, record.el, record.theta, record.phi, record.psi};
}

void Push(Slot &slot, const Sample &sample) {
    if (slot.count == kSamplesKept) {
        std::copy(slot.samples + 1, slot.samples + kSamplesKept, slot.samples);
        slot.count--;
    }
    slot.samples[slot.count++] = sample;
}

double Quantile(const double *values, int count, double q) {
    double sorted[kStatsKept];
    std::copy(values, values + count, sorted);
    std::sort(sorted, sorted + count);
    return sorted[std::min(count - 1, (int)(q * count))];
}

// The delay covers one send interval (so the next sample is normally in when the playout clock gets
// there) plus the 95th percentile of how late samples come: a lost one is bridged by extrapolation.
void Learn(Slot &slot, double lateness, double interval) {
    slot.lateness[slot.statNext] = lateness;
    slot.intervals[slot.statNext] = interval;
    slot.statNext = (slot.statNext + 1) % kStatsKept;
    slot.statCount = std::min(slot.statCount + 1, kStatsKept);
    int n = slot.statCount;
    double typical = Quantile(slot.intervals, n, 0.5);
    double jitter = 0;
    if (slot.senderTimes) {
        slot.offset = *std::min_element(slot.lateness, slot.lateness + n);
        jitter = Quantile(slot.lateness, n, 0.95) - slot.offset;
    } else {
        // Arrival times alone: the spread of the gaps between arrivals is all there is to go by.
        slot.offset = 0;
        jitter = Quantile(slot.intervals, n, 0.95) - typical;
    }
    slot.delay = std::clamp(typical + jitter, kShortestDelay, kLongestDelay);
}

// The pose at `time` on the slot's samples, with its velocity: between two samples, along the newest
// segment for a while past the last one, then held.
Pose PoseAt(const Slot &slot, double time, double velocity[3]) {
    velocity[0] = velocity[1] = velocity[2] = 0;
    const Sample *s = slot.samples;
    int n = slot.count;
    if (n == 1 || time <= s[0].time) return s[0].pose;
    int i = 1;
    while (i < n - 1 && time > s[i].time) i++;
    const Sample &a = s[i - 1], &b = s[i];
    double span = b.time - a.time;
    if (span < kShortestSegment) return b.pose;
    double ahead = time - b.time;
    double f = ahead > 0 ? 1.0 + std::min(ahead, kExtrapolationLimit) / span : (time - a.time) / span;
    if (ahead < kExtrapolationLimit) {
        velocity[0] = (b.pose.x - a.pose.x) / span;
        velocity[1] = (b.pose.y - a.pose.y) / span;
        velocity[2] = (b.pose.z - a.pose.z) / span;
    }
    return Blend(a.pose, b.pose, f);
}

void Advance(Slot &slot, double now, double elapsed) {
    double target = now - slot.offset - slot.delay;
    if (!slot.started) {
        slot.started = true;
        slot.playout = target;
        return;
    }
    double next = slot.playout + elapsed;
    double error = target - next;
    if (error > kCatchUpGap) {
        next = target;
    } else if (error < -kCatchUpGap) {
        // The timeline itself moved (the sender's clock was set): on from the newest sample, which lies ahead.
        slot.samples[0] = slot.samples[slot.count - 1];
        slot.count = 1;
        slot.playout = target;
        return;
    } else {
        next += std::clamp(error, -kSlewRate * elapsed, kSlewRate * elapsed);
    }
    // Never backwards: whatever the target does, the aircraft only moves on along its track.
    slot.playout = std::max(slot.playout, next);
    // Samples older than the one just before the playout clock are done with.
    int done = 0;
    while (done + 1 < slot.count && slot.samples[done + 1].time <= slot.playout) done++;
    if (done > 0) {
        std::copy(slot.samples + done, slot.samples + slot.count, slot.samples);
        slot.count -= done;
    }
}

}  // namespace

bool CombineSenderTime(std::string_view clockFields, double arrival, const SenderClock &previous, double *out) {
    size_t bar = clockFields.find('|');
    if (bar == std::string_view::npos) return false;
    std::string_view microText = clockFields.substr(bar + 1);
    microText = microText.substr(0, microText.find('|'));
    double seconds = DecodeFloatField(clockFields.substr(0, bar));
    double micros = DecodeDoubleField(microText);
    if (!std::isfinite(seconds) || seconds <= 0 || seconds >= (double)FLT_MAX || !(micros >= 0 && micros < 1e6))
        return false;
    double fraction = std::floor(micros) * 1e-6;
    // The float's whole seconds are exact to within one of its steps around today's value.
    double step = (double)std::nextafter((float)seconds, FLT_MAX) - seconds + 1.0;
    auto fits = [&](double whole) { return std::fabs(whole - seconds) <= step; };
    double whole = 0;
    if (previous.valid && fits(whole = std::round(previous.senderTime + (arrival - previous.arrivalTime) - fraction))) {
    } else if (fits(whole = std::round(arrival - fraction))) {
    } else {
        whole = seconds;  // another clock than ours: its own float, still one timeline from here on
    }
    *out = whole + fraction;
    return true;
}

void TakeTrafficSample(const Aircraft &record, std::string_view clockFields) {
    if (record.planeIndex < 0 || record.planeIndex >= kSlotCount) return;
    Slot &slot = slots[record.planeIndex];
    double arrival = WallNow();
    double senderTime = 0;
    bool usable = CombineSenderTime(clockFields, arrival, slot.clock, &senderTime);
    if (slot.active && usable != slot.senderTimes) slot = Slot{};
    Sample sample{usable ? senderTime : arrival, PoseOf(record)};

    if (slot.active) {
        const Sample &newest = slot.samples[slot.count - 1];
        double gap = sample.time - newest.time;
        if (gap < -kLongSilence) {
            // Far older than the newest: another clock (a new aircraft in the slot, or the last one's clock
            // was wild), so the slot starts afresh rather than wait for its timeline to catch up.
            slot = Slot{};
        } else if (!(gap > 0)) {
            // Late or reordered: older than a sample already taken.
            return;
        } else if (gap > kLongSilence || Distance(sample.pose, newest.pose) > kFastestSpeed * gap + kJumpSlack) {
            slot = Slot{};
        }
    }
    if (!slot.active) {
        slot.active = true;
        slot.senderTimes = usable;
        slot.offset = usable ? arrival - sample.time : 0.0;
        slot.clock = {true, sample.time, arrival};
        Push(slot, sample);
        return;
    }

    Learn(slot, slot.senderTimes ? arrival - sample.time : 0.0, sample.time - slot.clock.senderTime);
    slot.clock = {true, sample.time, arrival};
    if (slot.started) {
        // Already behind the moment drawn: it would pull the aircraft back.
        if (sample.time <= slot.playout) return;
        // Past the newest sample the aircraft was extrapolated or held: it goes on from where it was drawn.
        if (slot.playout > slot.samples[slot.count - 1].time) Push(slot, {slot.playout, slot.drawn});
    }
    Push(slot, sample);
}

void SmoothTrafficFrame(float elapsedSinceLastFrame) {
    if (smoothTraffic == 0) {
        for (const Slot &slot : slots) {
            if (slot.active) {
                ResetSmoothTraffic();
                break;
            }
        }
        return;
    }
    // Read every frame rather than every packet-processor call: arrival times then miss by a frame at most.
    DrainDatagramSocket();
    double now = WallNow();
    double elapsed = elapsedSinceLastFrame;
    if (!std::isfinite(elapsed) || elapsed < 0 || elapsed > 1) elapsed = 0;
    for (int i = 0; i < kSlotCount; i++) {
        Slot &slot = slots[i];
        if (!slot.active) continue;
        // The user's aircraft only while the crew's pilot holds it; the next override starts afresh.
        if (i == 0 && overridden == 0) {
            slot = Slot{};
            continue;
        }
        Advance(slot, now, elapsed);
        double velocity[3];
        slot.drawn = PoseAt(slot, slot.playout, velocity);
        Aircraft &record = AircraftList[i];
        const Pose &p = slot.drawn;
        record.x = (float)p.x;
        record.y = (float)p.y;
        record.z = (float)p.z;
        record.lat = (float)p.lat;
        record.lon = (float)p.lon;
        record.el = (float)p.el;
        record.theta = (float)p.theta;
        record.phi = (float)p.phi;
        record.psi = (float)p.psi;
        if (i == 0) {
            record.vx = (float)velocity[0];
            record.vy = (float)velocity[1];
            record.vz = (float)velocity[2];
        }
        record.SetAircraftData();
    }
}

void ResetSmoothTraffic() {
    for (Slot &slot : slots) slot = Slot{};
}

void ResetTrafficSlot(int slot) {
    if (slot >= 0 && slot < kSlotCount) slots[slot] = Slot{};
}
