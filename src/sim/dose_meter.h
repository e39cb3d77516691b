#pragma once
// What the simulated dosimeter measures: dose since switch-on, total dose, peak rate
// and the dose history, all grown lazily from a pseudo-random dose rate whenever the
// device clock is advanced.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>

namespace dm {

struct DoseRateSample {
    double gamma = 0;   // Sv/h
    double neutron = 0; // Sv/h
};

// The dose rate during the 10-second slot `slot` of the device clock: a background of
// 0.1 to 0.3 uSv/h that drifts slowly, and now and then a source for five minutes.
// The same seed and slot always give the same rate.
DoseRateSample SimulatedDoseRate(std::uint64_t seed, long long slot, bool neutronChannel);

constexpr long long kRateSlotSeconds = 10;

struct GammaRecord {
    double dose = 0; // Sv accumulated since the history was started
};

struct NeutronRecord {
    double dose = 0;        // Sv accumulated since the history was started
    double coefficient = 1; // spectrum estimation coefficient
    long long seconds = 0;  // time of the record since the history was started
};

// Every counter of the dosimeter, as a state file keeps it.
struct DoseCounters {
    long long clock = 0;         // seconds the dosimeter has been running, over all runs
    long long switchOnClock = 0; // clock when it was last switched on
    double doseSinceOn = 0;
    double neutronSinceOn = 0;
    double totalDose = 0;
    long long totalTime = 0;
    double peakRate = 0;    // Sv/h
    long long peakTime = 0; // total time at the peak
    long long historyInterval = 60;
    long long historyStart = 0;     // clock of the history's start
    long long historyIntervals = 0; // intervals recorded since then (records may roll off)
    double historyGamma = 0;        // accumulated since the history's start
    double historyNeutron = 0;
    std::deque<GammaRecord> gamma;
    std::deque<NeutronRecord> neutron;
};

class DoseMeter {
public:
    static constexpr std::size_t kHistoryCapacity = 10000;

    DoseMeter(bool neutronChannel, std::uint64_t seed, long long historyInterval);

    // Pretends the dosimeter had been switched on `records` history intervals before
    // now, so it starts with that many records. Only on a fresh meter.
    void fillHistory(std::size_t records);

    // Grows every counter up to the device clock `clock` (earlier clocks do nothing).
    void advanceTo(long long clock);

    void eraseTotal();
    // Drops every record and starts a new history with the given interval.
    void eraseHistory(long long newInterval);

    const DoseCounters& counters() const { return c_; }
    void restore(DoseCounters counters, std::uint64_t seed) {
        c_ = std::move(counters);
        seed_ = seed;
    }
    std::uint64_t seed() const { return seed_; }
    bool neutronChannel() const { return neutron_; }

private:
    void addRecord();

    bool neutron_;
    std::uint64_t seed_;
    DoseCounters c_;
};

} // namespace dm
