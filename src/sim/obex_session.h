#pragma once
// The server side of an OBEX exchange, without sockets: one whole request packet in,
// one response packet out, plus the object once its final PUT has arrived.
#include "link/obex_codes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dm {

// A file pushed to us: its name (UTF-8) and its bytes.
struct ObexObject {
    std::string name;
    std::string body;
    std::optional<std::uint32_t> declaredLength; // the Length header, when sent
};

struct ObexStep {
    std::string response;               // the response packet to send
    bool closeAfter = false;            // end the connection once it is sent
    std::optional<ObexObject> received; // a complete object (final PUT)
};

class ObexServerSession {
public:
    // maxPacket: the largest packet we announce in the CONNECT response.
    explicit ObexServerSession(std::uint16_t maxPacket = 0x4000,
                               std::size_t maxBody = std::size_t{1} << 20);

    // Handles one whole request packet (its length field already matches its size).
    ObexStep handlePacket(std::string_view packet);

    // The packet length announced by the first three bytes; nothing when it is below 3,
    // which no request can be.
    static std::optional<std::size_t> PacketLength(std::string_view firstThreeBytes);

    // A three-byte response with only a code.
    static std::string ShortResponse(std::uint8_t code);

private:
    ObexStep handleConnect(std::string_view packet);
    ObexStep handlePut(std::string_view packet, bool final);
    void resetPut();

    std::uint16_t maxPacket_;
    std::size_t maxBody_;
    bool putActive_ = false;
    bool putHadBody_ = false;
    ObexObject put_;
};

} // namespace dm
