#pragma once
// The line below IrLAP: whole IrLAP frames out and in. A serial adapter wraps each frame in
// SIR framing with its frame check (sir:PATH); a USB IrDA bridge takes it with a one-byte
// header and frames it itself (usb-irda); tests join two ports back to back or run one
// over a pseudo-terminal. A frame here runs from the address byte to the last information
// byte: no BOF/EOF, no escapes, no frame check.
//
// Threads: a port belongs to the IrDA stack's own thread; only the stack calls it.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace dm::irda {

using Bytes = std::vector<std::uint8_t>;
using SteadyTime = std::chrono::steady_clock::time_point;

// Before a connection has negotiated anything else.
inline constexpr int kContactSpeed = 9600;

class FramePort {
public:
    virtual ~FramePort() = default;

    // A descriptor that becomes readable when read() has something to take (bytes from the
    // line, or news of the port going away). The stack's thread polls it beside its own
    // wake-up descriptor, so it sleeps while the line is quiet.
    virtual int pollDescriptor() const = 0;

    // Takes, without blocking, what the line delivered since the last call and appends each
    // whole frame whose check is good. A frame with a bad check or a broken escape is
    // dropped (and counted). False, with one line in *error, when the port is gone
    // (unplugged, closed under the program, hung up): the stack then ends every connection.
    virtual bool read(std::vector<Bytes>& frames, std::string* error) = 0;

    // Sends one frame after extraBofs extra beginning flags, at the current speed. Returns
    // once the bytes are handed to the line; a paced port returns no sooner than the line
    // would carry them. False, with one line in *error, when the port is gone.
    virtual bool send(const Bytes& frame, int extraBofs, std::string* error) = 0;

    // When the line last carried any byte, framed or not, in either direction: media-busy
    // sensing before a station transmits while not connected.
    virtual SteadyTime lastActivity() const = 0;

    // Speeds in baud that the port and its adapter can run, ascending; kContactSpeed is
    // always among them.
    virtual std::vector<int> speeds() const = 0;
    // Switches the line to baud once every frame sent so far has left. False, with the
    // reason, when the adapter cannot; the line then stays at its speed.
    virtual bool setSpeed(int baud, std::string* error) = 0;
    virtual int speed() const = 0;

    // The link name for messages: "sir:/dev/ttyUSB0", "usb-irda:1-4".
    virtual std::string name() const = 0;
};

} // namespace dm::irda
