#pragma once
// The frame port of a serial IrDA adapter (link sir:PATH[?dongle=NAME&speed=BAUD]): any
// tty in raw mode, a pseudo-terminal too, SIR framing both ways, the adapter's routine
// for power-up and speed changes. The port is held exclusively through an advisory lock
// (flock, which also keeps out root, where the tty's exclusive mode does not), and a
// second program gets one line naming the port and, where it can be found, the holder.
#include "link/irda/frame_port.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace dm::irda {

struct SirLinkOptions {
    std::string path;
    std::string dongle = "plain";
    int maxSpeed = 115200; // caps the speeds offered
    bool paced = false;    // writes no faster than the line would carry them (10 bits a byte)
};

// "sir:PATH[?dongle=NAME&speed=BAUD]"; nothing, and why, for a malformed name, an unknown
// dongle or a speed that is not a SIR speed.
std::optional<SirLinkOptions> ParseSirLink(const std::string& linkName, std::string* error);

// Opens and locks the port, sets raw mode at 9600 baud and powers the adapter up.
// Nothing, and one line in *error, when the port does not exist, cannot be opened for
// lack of permission (saying how to get it), is held by another program, or is no tty.
std::unique_ptr<FramePort> OpenSirPort(const SirLinkOptions& options, std::string* error);

// Who holds the advisory lock (or a UUCP lock file) on the port at path: "pid 1234
// (minicom)"; empty when nobody is seen to.
std::string SerialPortHolder(const std::string& path);

// How long bytes take on a serial line at baud: ten bits a byte (start, eight, stop).
inline std::chrono::microseconds LineTime(std::size_t bytes, int baud) {
    return std::chrono::microseconds(baud > 0 ? static_cast<long long>(bytes) * 10'000'000LL / baud : 0);
}

} // namespace dm::irda
