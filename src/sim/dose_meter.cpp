#include "sim/dose_meter.h"

#include <algorithm>
#include <cmath>

namespace dm {
namespace {

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A number in [0, 1) fixed by the seed, a stream tag and an index.
double Unit(std::uint64_t seed, std::uint64_t tag, long long index) {
    const std::uint64_t h =
        Mix(seed ^ Mix(tag * 0x100000001B3ull + static_cast<std::uint64_t>(index)));
    return static_cast<double>(h >> 11) / 9007199254740992.0;
}

constexpr long long kDriftSlots = 360; // the background drifts over about an hour
constexpr long long kSourceSlots = 30; // a source stays for five minutes
constexpr double kMicro = 1e-6;

} // namespace

DoseRateSample SimulatedDoseRate(std::uint64_t seed, long long slot, bool neutronChannel) {
    // Background: a smooth curve between random knots an hour apart, with a little jitter.
    const long long knot = slot >= 0 ? slot / kDriftSlots : (slot - kDriftSlots + 1) / kDriftSlots;
    const double frac = static_cast<double>(slot - knot * kDriftSlots) / kDriftSlots;
    const double a = Unit(seed, 1, knot);
    const double b = Unit(seed, 1, knot + 1);
    const double smooth = a + (b - a) * (0.5 - 0.5 * std::cos(frac * 3.14159265358979));
    const double jitter = 0.95 + 0.1 * Unit(seed, 2, slot);
    DoseRateSample rate;
    rate.gamma = std::clamp((0.1 + 0.2 * smooth) * jitter, 0.1, 0.3) * kMicro;
    if (neutronChannel)
        rate.neutron = (0.01 + 0.02 * Unit(seed, 3, slot)) * kMicro;

    // Now and then (about one five-minute window in fifty) a source comes near.
    const long long window =
        slot >= 0 ? slot / kSourceSlots : (slot - kSourceSlots + 1) / kSourceSlots;
    if (Unit(seed, 4, window) < 0.02) {
        const double strength = (1.0 + 19.0 * Unit(seed, 5, window)) * kMicro;
        rate.gamma += strength;
        if (neutronChannel && Unit(seed, 6, window) < 0.35)
            rate.neutron += 0.2 * strength;
    }
    return rate;
}

DoseMeter::DoseMeter(bool neutronChannel, std::uint64_t seed, long long historyInterval)
    : neutron_(neutronChannel), seed_(seed) {
    c_.historyInterval = std::max(1LL, historyInterval);
}

void DoseMeter::addRecord() {
    ++c_.historyIntervals;
    c_.gamma.push_back(GammaRecord{c_.historyGamma});
    if (c_.gamma.size() > kHistoryCapacity)
        c_.gamma.pop_front();
    if (neutron_) {
        const double coefficient =
            1.0 + 0.01 * std::floor(50 * Unit(seed_, 7, c_.historyIntervals));
        c_.neutron.push_back(NeutronRecord{c_.historyNeutron, coefficient,
                                           c_.historyIntervals * c_.historyInterval});
        if (c_.neutron.size() > kHistoryCapacity)
            c_.neutron.pop_front();
    }
}

void DoseMeter::fillHistory(std::size_t records) {
    records = std::min(records, kHistoryCapacity);
    const long long interval = c_.historyInterval;
    for (std::size_t k = 1; k <= records; ++k) {
        const long long t = static_cast<long long>(k) * interval;
        const DoseRateSample rate = SimulatedDoseRate(seed_, t / kRateSlotSeconds, neutron_);
        const double gamma = rate.gamma * static_cast<double>(interval) / 3600.0;
        c_.historyGamma += gamma;
        c_.historyNeutron += rate.neutron * static_cast<double>(interval) / 3600.0;
        c_.totalDose += gamma;
        c_.doseSinceOn += gamma;
        c_.neutronSinceOn += rate.neutron * static_cast<double>(interval) / 3600.0;
        if (rate.gamma > c_.peakRate) {
            c_.peakRate = rate.gamma;
            c_.peakTime = c_.totalTime;
        }
        c_.totalTime += interval;
        addRecord();
    }
    // It was switched on when that history began.
    c_.clock = static_cast<long long>(records) * interval;
    c_.switchOnClock = 0;
}

void DoseMeter::advanceTo(long long clock) {
    while (c_.clock < clock) {
        const long long slot = c_.clock / kRateSlotSeconds;
        const long long slotEnd = (slot + 1) * kRateSlotSeconds;
        const long long recordAt = c_.historyStart + (c_.historyIntervals + 1) * c_.historyInterval;
        const long long end = std::min({clock, slotEnd, recordAt});
        const long long dt = end - c_.clock;
        const DoseRateSample rate = SimulatedDoseRate(seed_, slot, neutron_);
        const double gamma = rate.gamma * static_cast<double>(dt) / 3600.0;
        const double neutron = rate.neutron * static_cast<double>(dt) / 3600.0;
        if (rate.gamma > c_.peakRate) {
            c_.peakRate = rate.gamma;
            c_.peakTime = c_.totalTime;
        }
        c_.doseSinceOn += gamma;
        c_.neutronSinceOn += neutron;
        c_.totalDose += gamma;
        c_.totalTime += dt;
        c_.historyGamma += gamma;
        c_.historyNeutron += neutron;
        c_.clock = end;
        if (end == recordAt)
            addRecord();
    }
}

void DoseMeter::eraseTotal() {
    c_.totalDose = 0;
    c_.totalTime = 0;
    c_.peakRate = 0;
    c_.peakTime = 0;
}

void DoseMeter::eraseHistory(long long newInterval) {
    c_.historyInterval = std::max(1LL, newInterval);
    c_.historyStart = c_.clock;
    c_.historyIntervals = 0;
    c_.historyGamma = 0;
    c_.historyNeutron = 0;
    c_.gamma.clear();
    c_.neutron.clear();
}

} // namespace dm
