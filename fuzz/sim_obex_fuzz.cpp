#include "sim_prototype.h"
#include "core/text_file.h"
#include "params/catalogue.h"
#include "sim/obex_session.h"
#include "sim/sim_device.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

// The simulated dosimeter's side of a connection, without the socket: the input is the
// byte stream a client sends. It is cut into packets by their length fields as the
// server thread does; every packet gets one well-formed response, and every command
// file that arrives whole is acted on.
namespace {

void CheckResponse(const std::string& response) {
    if (response.size() < 3)
        std::abort();
    const std::size_t length =
        (std::size_t{static_cast<unsigned char>(response[1])} << 8) |
        static_cast<unsigned char>(response[2]);
    if (length != response.size())
        std::abort(); // the length field must match what is sent
    if ((static_cast<unsigned char>(response[0]) & 0x80) == 0)
        std::abort(); // responses always carry the final bit
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    dm::SimDevice device = SimPrototype(data[0] & 1, 20);
    dm::ObexServerSession session(0x4000, 1 << 16);
    std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
    long long clock = device.clock();
    while (stream.size() >= 3) {
        const auto length = dm::ObexServerSession::PacketLength(stream.substr(0, 3));
        if (!length) {
            CheckResponse(dm::ObexServerSession::ShortResponse(0xC0));
            break;
        }
        if (*length > stream.size())
            break; // the server waits for the rest and drops the client at its time-out
        const dm::ObexStep step = session.handlePacket(stream.substr(0, *length));
        stream.remove_prefix(*length);
        CheckResponse(step.response);
        if (step.received && step.received->name == "command.txt") {
            clock += 3;
            for (const dm::SimReply& reply : device.handleCommandFile(step.received->body, clock))
                if (reply.letter != 'P' && reply.letter != 'A' && reply.letter != 'L')
                    std::abort();
        }
        if (step.closeAfter)
            break;
    }
    return 0;
}
