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
std::optional<std::uint8_t> ReceiveResponse(Connection& connection, std::vector<std::uint8_t>& buffer) {
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
    while (rest > 0) {
        const long n = connection.receive(buffer.data(), std::min(rest, buffer.size()));
        if (n <= 0)
            return std::nullopt;
        rest -= static_cast<std::size_t>(n);
    }
    return code;
}

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
    std::vector<std::uint8_t> buffer(kReceiveBufferBytes);

    // Sends one request and reads its answer; false when either failed.
    auto exchange = [&](const char* request, const std::string& packet) {
        report.steps.push_back({request, std::nullopt});
        if (!connection->send(reinterpret_cast<const std::uint8_t*>(packet.data()), packet.size())) {
            report.error = std::string("sending ") + request + " failed";
            return false;
        }
        report.steps.back().response = ReceiveResponse(*connection, buffer);
        if (!report.steps.back().response) {
            report.error = std::string("no whole answer to ") + request + " (time-out or connection closed)";
            return false;
        }
        return true;
    };

    if (!exchange("CONNECT", ObexConnectPacket()))
        return report;
    if (*report.steps.back().response != obex::kSuccess) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", *report.steps.back().response);
        report.error = std::string("CONNECT was answered with ") + code + ", not Success";
        return report;
    }
    if (!exchange("PUT", ObexFirstPutPacket(kCommandFileName, text.size())))
        return report; // the code of this answer is not examined
    if (!exchange("PUT", ObexFinalPutPacket(text)))
        return report;
    if (*report.steps.back().response == obex::kContinue) {
        report.error = "the final PUT was answered with Continue";
        return report;
    }
    report.completed = true;
    exchange("DISCONNECT", ObexDisconnectPacket()); // its outcome changes nothing
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
