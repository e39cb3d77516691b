#include "link/obex_codes.h"
#include "link/obex_push.h"
#include "link/transport.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// The push against a peer whose every answer comes from the fuzzer. The input is read
// as a script of receive results: a control byte, then for a data chunk its bytes.
//   0x00..0xEF  a chunk of (control % 64) + 1 bytes (cut to what the call asks for)
//   0xF0..0xF7  the receive fails (time-out)
//   0xF8..0xFF  the peer closes
// The end of the input closes too. The first input byte picks the command length and
// which send, if any, fails.
namespace {

struct Script {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    std::size_t receiveCalls = 0;
};

class ScriptedConnection : public dm::Connection {
public:
    ScriptedConnection(Script& script, std::vector<std::string>& sent, int failingSend)
        : script_(script), sent_(sent), failingSend_(failingSend) {}

    bool send(const std::uint8_t* data, std::size_t size) override {
        if (closed_)
            std::abort(); // nothing may be sent on a closed connection
        if (static_cast<int>(sent_.size()) == failingSend_)
            return false;
        sent_.emplace_back(reinterpret_cast<const char*>(data), size);
        return true;
    }
    long receive(std::uint8_t* buffer, std::size_t maxSize) override {
        if (closed_ || maxSize == 0)
            std::abort();
        if (++script_.receiveCalls > 200000)
            std::abort(); // a push that never stops asking
        if (script_.at >= script_.size)
            return 0;
        const std::uint8_t control = script_.data[script_.at++];
        if (control >= 0xF8)
            return 0;
        if (control >= 0xF0)
            return -1;
        std::size_t n = std::min<std::size_t>(control % 64 + 1, maxSize);
        n = std::min(n, script_.size - script_.at);
        if (n == 0)
            return 0;
        std::memcpy(buffer, script_.data + script_.at, n);
        script_.at += n;
        return static_cast<long>(n);
    }
    void close() override { closed_ = true; }

private:
    Script& script_;
    std::vector<std::string>& sent_;
    int failingSend_;
    bool closed_ = false;
};

class ScriptedTransport : public dm::Transport {
public:
    ScriptedTransport(Script& script, std::vector<std::string>& sent, int failingSend)
        : script_(script), sent_(sent), failingSend_(failingSend) {}
    dm::DiscoveryStart openDiscovery() override { return dm::DiscoveryStart::Ok; }
    bool enumerate(std::vector<dm::DeviceId>*) override { return true; }
    bool waitForChange(std::vector<dm::DeviceId>*, const dm::StopSignal&) override { return true; }
    void closeDiscovery() override {}
    std::unique_ptr<dm::Connection> connect(const dm::DeviceId&, const std::string&,
                                            std::string*) override {
        ++connects;
        return std::make_unique<ScriptedConnection>(script_, sent_, failingSend_);
    }
    std::string name() const override { return "scripted"; }
    int connects = 0;

private:
    Script& script_;
    std::vector<std::string>& sent_;
    int failingSend_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t setup = data[0];
    const std::string text(static_cast<std::size_t>(setup & 0x1F) * 13, 'x');
    const int failingSend = (setup >> 5) < 4 ? (setup >> 5) : -1;
    Script script{data + 1, size - 1};
    std::vector<std::string> sent;
    ScriptedTransport transport(script, sent, failingSend);

    const dm::PushReport report = dm::PushCommandFile(transport, dm::DeviceId{1, 2, 3, 4}, text);

    // One connection, and the requests in their order, each exactly as built: CONNECT,
    // the first PUT, the body in PUT packets (split to the packet length the peer
    // announced, one final PUT where it fits), DISCONNECT only after the final one.
    if (transport.connects != 1 || report.steps.size() < sent.size() || report.steps.size() > sent.size() + 1)
        std::abort();
    if (!sent.empty() && sent[0] != dm::ObexConnectPacket())
        std::abort();
    if (sent.size() >= 2 && sent[1] != dm::ObexFirstPutPacket(dm::kCommandFileName, text.size()))
        std::abort();
    std::string body;
    std::size_t finalAt = 0;
    for (std::size_t i = 2; i < sent.size(); ++i) {
        const std::string& p = sent[i];
        if (finalAt) {
            if (p != dm::ObexDisconnectPacket() || i + 1 != sent.size())
                std::abort();
            continue;
        }
        const auto op = static_cast<unsigned char>(p.size() >= 6 ? p[0] : 0);
        if ((op != 0x02 && op != 0x82) || dm::obex::ReadBe16(p, 1) != p.size())
            std::abort();
        body += p.substr(6);
        if (op == 0x82)
            finalAt = i;
    }
    if (text.compare(0, body.size(), body) != 0 || (finalAt && body != text))
        std::abort();
    // No PUT unless CONNECT was answered with Success; no DISCONNECT after a Continue
    // to the final PUT; "completed" only after an answer to the final PUT.
    if (sent.size() >= 2 &&
        (report.steps.empty() || report.steps[0].response != std::optional<std::uint8_t>(0xA0)))
        std::abort();
    if (finalAt && finalAt + 1 < sent.size() && report.steps[finalAt].response == std::optional<std::uint8_t>(0x90))
        std::abort();
    if (report.completed && (!finalAt || !report.steps[finalAt].response))
        std::abort();
    (void)dm::FormatPushReport(report);
    return 0;
}
