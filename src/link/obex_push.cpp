#include "link/obex_push.h"

#include "link/irda_transport.h"
#include "link/obex_codes.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace dm {

namespace {

constexpr std::size_t kReceiveBufferBytes = 32768;

// Reads one whole response packet (its length field says how long) and returns its
// code. Reading the whole packet keeps the stream in step when a peer's answer carries
// headers; nothing when the connection failed, closed or timed out first.
// The first bytes after the length are kept in *head (a CONNECT answer's packet length).
std::optional<std::uint8_t> ReceiveResponse(Connection& connection, std::vector<std::uint8_t>& buffer,
                                            std::vector<std::uint8_t>* head = nullptr) {
    std::size_t have = 0;
    while (have < 3) {
        const long n = connection.receive(buffer.data() + have, 3 - have);
        if (n <= 0)
            return std::nullopt;
        have += static_cast<std::size_t>(n);
    }
    const std::uint8_t code = buffer[0];
    const std::size_t length = (std::size_t{buffer[1]} << 8) | buffer[2];
    std::size_t rest = length > 3 ? length - 3 : 0;
    if (head)
        head->clear();
    while (rest > 0) {
        const long n = connection.receive(buffer.data(), std::min(rest, buffer.size()));
        if (n <= 0)
            return std::nullopt;
        if (head && head->size() < 4)
            head->insert(head->end(), buffer.begin(), buffer.begin() + std::min<long>(n, static_cast<long>(4 - head->size())));
        rest -= static_cast<std::size_t>(n);
    }
    return code;
}

// The smallest packet every OBEX peer must take.
constexpr std::size_t kMinObexPacket = 255;

} // namespace

std::string ObexConnectPacket() {
    return obex::ConnectPacket(obex::kConnect, 0x8000); // we take packets of up to 32768 bytes
}

std::string ObexFirstPutPacket(const std::string& fileName, std::size_t textLength) {
    const std::size_t n = fileName.size();
    std::string p(1, static_cast<char>(obex::kPut));
    obex::AppendBe16(p, 2 * n + 16);
    p += static_cast<char>(obex::kHeaderName);
    obex::AppendBe16(p, 2 * n + 5);
    for (char c : fileName) {
        p += '\0';
        p += c;
    }
    obex::AppendBe16(p, 0);
    p += static_cast<char>(obex::kHeaderLength);
    obex::AppendBe32(p, textLength);
    p += static_cast<char>(obex::kHeaderBody); // empty
    obex::AppendBe16(p, 3);
    return p;
}

std::string ObexFinalPutPacket(const std::string& text) {
    std::string p(1, static_cast<char>(obex::kPutFinal));
    obex::AppendBe16(p, text.size() + 6);
    p += static_cast<char>(obex::kHeaderEndOfBody);
    obex::AppendBe16(p, text.size() + 3);
    p += text;
    return p;
}

std::string ObexDisconnectPacket() { return obex::ShortPacket(obex::kDisconnect); }

std::vector<std::string> ObexBodyPackets(const std::string& bytes, std::size_t maxPacket) {
    const std::size_t room = std::max(maxPacket, kMinObexPacket) - 6; // code, length, header id and length
    std::vector<std::string> packets;
    std::size_t at = 0;
    while (bytes.size() - at > room) {
        std::string p(1, static_cast<char>(obex::kPut));
        obex::AppendBe16(p, room + 6);
        p += static_cast<char>(obex::kHeaderBody);
        obex::AppendBe16(p, room + 3);
        p.append(bytes, at, room);
        packets.push_back(std::move(p));
        at += room;
    }
    packets.push_back(ObexFinalPutPacket(bytes.substr(at)));
    return packets;
}

void PushObject(Connection& connection, const std::string& name, const std::string& bytes, PushReport& report) {
    std::vector<std::uint8_t> buffer(kReceiveBufferBytes);

    // Sends one request and reads its answer; false when either failed.
    auto exchange = [&](const char* request, const std::string& packet, std::vector<std::uint8_t>* head = nullptr) {
        report.steps.push_back({request, std::nullopt});
        if (!connection.send(reinterpret_cast<const std::uint8_t*>(packet.data()), packet.size())) {
            report.error = std::string("sending ") + request + " failed";
            return false;
        }
        report.steps.back().response = ReceiveResponse(connection, buffer, head);
        if (!report.steps.back().response) {
            report.error = std::string("no whole answer to ") + request + " (time-out or connection closed)";
            return false;
        }
        return true;
    };
    auto codeText = [](std::uint8_t c) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", c);
        return std::string(code);
    };

    std::vector<std::uint8_t> head;
    if (!exchange("CONNECT", ObexConnectPacket(), &head))
        return;
    if (*report.steps.back().response != obex::kSuccess) {
        report.error = "CONNECT was answered with " + codeText(*report.steps.back().response) + ", not Success";
        return;
    }
    // Version, flags, then the largest packet the peer takes. A peer that does not say
    // keeps getting the one final PUT it always got.
    std::size_t peerMax = 0xFFFF;
    if (head.size() >= 4)
        peerMax = std::max(kMinObexPacket, std::size_t{head[2]} << 8 | head[3]);
    if (!exchange("PUT", ObexFirstPutPacket(name, bytes.size())))
        return; // the code of this answer is not examined
    const std::vector<std::string> packets = ObexBodyPackets(bytes, peerMax);
    for (std::size_t i = 0; i + 1 < packets.size(); ++i) {
        if (!exchange("PUT", packets[i]))
            return;
        if (*report.steps.back().response >= obex::kFirstFailureCode) {
            report.error = "a PUT was answered with " + codeText(*report.steps.back().response);
            return;
        }
    }
    if (!exchange("PUT", packets.back()))
        return;
    if (*report.steps.back().response == obex::kContinue) {
        report.error = "the final PUT was answered with Continue";
        return;
    }
    report.completed = true;
    exchange("DISCONNECT", ObexDisconnectPacket()); // its outcome changes nothing
}

PushReport PushCommandFile(Transport& transport, const DeviceId& device, const std::string& text,
                           std::optional<std::chrono::steady_clock::time_point> deadline) {
    PushReport report;
    if (text.size() > kMaxCommandTextBytes) {
        report.refused = true;
        report.error = "command text of " + std::to_string(text.size()) +
                       " bytes is longer than the " + std::to_string(kMaxCommandTextBytes) +
                       " bytes one packet holds; nothing sent";
        return report;
    }
    if (deadline && std::chrono::steady_clock::now() >= *deadline) {
        report.error = "no time left to connect";
        return report;
    }
    std::string error;
    transport.setConnectDeadline(deadline);
    std::unique_ptr<Connection> connection = transport.connect(device, kObexService, &error);
    transport.setConnectDeadline(std::nullopt);
    if (!connection) {
        report.error = error.empty() ? "connect failed" : error;
        return report;
    }
    if (deadline)
        connection->setDeadline(*deadline);
    report.connected = true;
    PushObject(*connection, kCommandFileName, text, report);
    return report;
}

std::string FormatPushReport(const PushReport& report) {
    std::string out;
    for (const PushReport::Step& step : report.steps) {
        if (!step.response)
            continue;
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", *step.response);
        out += step.request + " " + code + "\n";
    }
    return out;
}

} // namespace dm
