#pragma once
// A stop request that a waiting thread sees at once: waits are cut short when it is
// raised, so a worker never outlives its owner by more than one blocking call.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace dm {

class StopSignal {
public:
    void request() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
    }

    bool requested() const {
        std::lock_guard lock(mutex_);
        return stopped_;
    }

    // Sleeps for the duration or until the stop is requested; true when stopped.
    template <class Rep, class Period>
    bool waitFor(std::chrono::duration<Rep, Period> duration) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, duration, [this] { return stopped_; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopped_ = false;
};

} // namespace dm
