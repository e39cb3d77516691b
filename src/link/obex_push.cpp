#include "link/obex_push.h"

#include "link/irda_transport.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace dm {

namespace {

constexpr std::size_t kReceiveBufferBytes = 32768;

void Put16(std::string& out, std::size_t value) {
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

void Put32(std::string& out, std::size_t value) {
    Put16(out, (value >> 16) & 0xFFFF);
    Put16(out, value & 0xFFFF);
}

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
    std::string p;
    p += '\x80';
    Put16(p, 7);
    p += '\x10'; // OBEX 1.0
    p += '\x00'; // flags
    Put16(p, 0x8000); // largest packet accepted: 32768
    return p;
}

std::string ObexFirstPutPacket(const std::string& fileName, std::size_t textLength) {
    const std::size_t n = fileName.size();
    std::string p;
    p += '\x02';
    Put16(p, 2 * n + 16);
    p += '\x01'; // Name, null-terminated 16-bit text
    Put16(p, 2 * n + 5);
    for (char c : fileName) {
        p += '\0';
        p += c;
    }
    Put16(p, 0);
    p += '\xC3'; // Length
    Put32(p, textLength);
    p += '\x48'; // Body, empty
    Put16(p, 3);
    return p;
}

std::string ObexFinalPutPacket(const std::string& text) {
    std::string p;
    p += '\x82';
    Put16(p, text.size() + 6);
    p += '\x49'; // End-of-Body
    Put16(p, text.size() + 3);
    p += text;
    return p;
}

std::string ObexDisconnectPacket() {
    std::string p;
    p += '\x81';
    Put16(p, 3);
    return p;
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
    if (*report.steps.back().response != kObexSuccess) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", *report.steps.back().response);
        report.error = std::string("CONNECT was answered with ") + code + ", not Success";
        return report;
    }
    if (!exchange("PUT", ObexFirstPutPacket(kCommandFileName, text.size())))
        return report; // the code of this answer is not examined
    if (!exchange("PUT", ObexFinalPutPacket(text)))
        return report;
    if (*report.steps.back().response == kObexContinue) {
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
