#pragma once
// Two pseudo-terminals joined back to back: what one program writes to the first
// one's device the other reads from the second's, as over a null-modem cable. The
// simulated dosimeter runs on one end and the manager on the other, so a demonstration or
// a test walks the real serial path. A filter may drop or change bytes on their way.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace dm {

class PtyBridge {
public:
    // Direction 0: from end A to end B; 1: back. The filter may change or clear the bytes.
    using Filter = std::function<void(int direction, std::vector<std::uint8_t>& bytes)>;

    // Nothing, and why, when the system has no pseudo-terminals to give.
    static std::unique_ptr<PtyBridge> Open(std::string* error, Filter filter = nullptr);
    ~PtyBridge();
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;

    const std::string& pathA() const { return pathA_; }
    const std::string& pathB() const { return pathB_; }

private:
    PtyBridge() = default;
    void run();

    int masterA_ = -1, slaveA_ = -1, masterB_ = -1, slaveB_ = -1;
    int wake_[2] = {-1, -1};
    std::string pathA_, pathB_;
    Filter filter_;
    std::thread thread_;
};

} // namespace dm
