#pragma once
// One OBEX push of a command text as "command.txt": CONNECT, a PUT in two packets and
// DISCONNECT over a fresh connection, as the dosimeter expects them.
#include "link/transport.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dm {

inline constexpr std::size_t kMaxCommandTextBytes = 16378; // one final PUT in a 16 KiB packet
inline constexpr const char* kCommandFileName = "command.txt";

// The four request packets, byte for byte.
std::string ObexConnectPacket();
std::string ObexFirstPutPacket(const std::string& fileName, std::size_t textLength);
std::string ObexFinalPutPacket(const std::string& text);
std::string ObexDisconnectPacket();

// What happened in one push.
struct PushReport {
    struct Step {
        std::string request;                  // "CONNECT", "PUT", "PUT", "DISCONNECT"
        std::optional<std::uint8_t> response; // nothing when no whole response came
    };
    std::vector<Step> steps;  // requests sent, in order
    bool refused = false;     // the text was too long; nothing was sent
    bool connected = false;   // the transport connection was made
    bool completed = false;   // the final PUT got an answer other than Continue
    std::string error;        // why the push ended early (empty when it ran to the end)
};

// Pushes a whole object over an open connection: CONNECT, PUT and DISCONNECT. The body
// goes in one final PUT when it fits the packet length the peer announced in its CONNECT
// answer (as every TCP peer has it); else in Body packets of that length and a final
// End-of-Body. The report collects the steps.
void PushObject(Connection& connection, const std::string& name, const std::string& bytes, PushReport& report);

// The request packets of a body split to maxPacket: Body packets, then the final one.
std::vector<std::string> ObexBodyPackets(const std::string& bytes, std::size_t maxPacket);

// Pushes text to the device over the transport. Never throws; every wait is bounded
// by the transport's time-outs and, when given, ends by the deadline. A text longer
// than kMaxCommandTextBytes is refused whole rather than cut.
PushReport PushCommandFile(Transport& transport, const DeviceId& device, const std::string& text,
                           std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

// "CONNECT 0xA0" lines, one per answered request.
std::string FormatPushReport(const PushReport& report);

} // namespace dm
