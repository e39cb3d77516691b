#pragma once
// Captures of the frames a port carries, as pcap with link type 144 (Linux IrDA): each
// frame behind a 16-byte pseudo-header that says whether it was sent or received, from
// its address byte on, without SIR wrapping and frame check. Wireshark decodes it.
#include "link/irda/frame_port.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace dm::irda {

inline constexpr std::uint32_t kPcapLinkIrda = 144;

class PcapWriter {
public:
    // Creates (or empties) the file and writes the pcap header; nothing on failure.
    static std::unique_ptr<PcapWriter> Open(const std::string& path, std::string* error);
    ~PcapWriter();
    // One frame, at the time given (system clock), flushed so a capture survives a crash.
    bool write(bool sent, const Bytes& frame, std::chrono::system_clock::time_point when);
    const std::string& path() const { return path_; }

private:
    PcapWriter(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}
    std::FILE* file_;
    std::string path_;
};

// A port that hands every frame in and out to a capture, while one is running. The
// capture may be started and stopped from any thread.
class CapturingPort : public FramePort {
public:
    explicit CapturingPort(std::unique_ptr<FramePort> inner) : inner_(std::move(inner)) {}
    bool startCapture(const std::string& path, std::string* error);
    void stopCapture();
    bool capturing() const;

    int pollDescriptor() const override { return inner_->pollDescriptor(); }
    bool read(std::vector<Bytes>& frames, std::string* error) override;
    bool send(const Bytes& frame, int extraBofs, std::string* error) override;
    SteadyTime lastActivity() const override { return inner_->lastActivity(); }
    std::vector<int> speeds() const override { return inner_->speeds(); }
    bool setSpeed(int baud, std::string* error) override { return inner_->setSpeed(baud, error); }
    int speed() const override { return inner_->speed(); }
    std::string name() const override { return inner_->name(); }

private:
    void record(bool sent, const Bytes& frame);
    std::unique_ptr<FramePort> inner_;
    mutable std::mutex mutex_;
    std::unique_ptr<PcapWriter> writer_;
};

} // namespace dm::irda
