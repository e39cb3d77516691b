// The serial frame port over pseudo-terminals, link names, and the dongle routines
// against a recording double (a pseudo-terminal has no modem lines).
#include "link/irda/dongle.h"
#include "link/irda/serial_port.h"
#include "link/irda/sir_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <string>

namespace dm::irda {
namespace {

using ::testing::HasSubstr;

struct Pty {
    Pty() {
        char name[256] = {};
        EXPECT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
        ::fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty() {
        closeMaster();
        if (slave >= 0)
            ::close(slave);
    }
    void closeMaster() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    int master = -1;
    int slave = -1;
    std::string path;
};

bool Readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

std::unique_ptr<FramePort> Open(const std::string& link, std::string* error) {
    const auto options = ParseSirLink(link, error);
    return options ? OpenSirPort(*options, error) : nullptr;
}

TEST(SirLink, NamesParseOrSayWhatIsWrong) {
    std::string error;
    auto o = ParseSirLink("sir:/dev/ttyUSB0?dongle=tekram&speed=57600", &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->path, "/dev/ttyUSB0");
    EXPECT_EQ(o->dongle, "tekram");
    EXPECT_EQ(o->maxSpeed, 57600);
    o = ParseSirLink("sir:/dev/serial/by-id/usb-FTDI_X-if00-port0", &error);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->dongle, "plain");
    EXPECT_EQ(o->maxSpeed, 115200);

    for (const auto& [link, says] : std::vector<std::pair<std::string, std::string>>{
             {"sir:", "no port"},
             {"sir:/dev/ttyS0?dongle=acme", "known: plain, direct, tekram"},
             {"sir:/dev/ttyS0?speed=12345", "not one of 9600"},
             {"sir:/dev/ttyS0?speed=", "not one of 9600"},
             {"sir:/dev/ttyS0?baud=9600", "unknown setting 'baud'"}}) {
        EXPECT_FALSE(ParseSirLink(link, &error)) << link;
        EXPECT_THAT(error, HasSubstr(says)) << link;
        EXPECT_THAT(error, HasSubstr(link)) << link;
    }
}

TEST(SirSerialPort, FramesCrossARawPseudoTerminalBothWays) {
    Pty pty;
    std::string error;
    auto port = Open("sir:" + pty.path, &error);
    ASSERT_TRUE(port) << error;
    EXPECT_EQ(port->name(), "sir:" + pty.path);
    EXPECT_EQ(port->speed(), kContactSpeed);

    // Raw mode: bytes a cooked tty would translate (CR, ^C, ^S, DEL) go through untouched.
    const Bytes frame = {0xFF, 0x3F, 0x0D, 0x0A, 0x03, 0x13, 0x7F, 0xC0, 0x7D, 0x00};
    const auto before = port->lastActivity();
    ASSERT_TRUE(port->send(frame, 10, &error)) << error;
    EXPECT_GT(port->lastActivity(), before);
    ASSERT_TRUE(Readable(pty.master, 2000));
    Bytes wire(4096);
    const ssize_t n = ::read(pty.master, wire.data(), wire.size());
    ASSERT_GT(n, 0);
    wire.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(wire, [&] { Bytes w; SirWrap(frame, 10, w); return w; }());

    // Two frames from the far end, written in one go, arrive as two.
    Bytes in;
    SirWrap(frame, 0, in);
    SirWrap({0x01, 0x02}, 3, in);
    ASSERT_EQ(::write(pty.master, in.data(), in.size()), static_cast<ssize_t>(in.size()));
    std::vector<Bytes> frames;
    for (int i = 0; i < 20 && frames.size() < 2; ++i) {
        ASSERT_TRUE(Readable(port->pollDescriptor(), 1000));
        ASSERT_TRUE(port->read(frames, &error)) << error;
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], frame);
    EXPECT_EQ(frames[1], (Bytes{0x01, 0x02}));

    // The far end going away wakes the poller and is one line, not a hang.
    pty.closeMaster();
    ASSERT_TRUE(Readable(port->pollDescriptor(), 2000));
    frames.clear();
    EXPECT_FALSE(port->read(frames, &error));
    EXPECT_THAT(error, HasSubstr("sir:" + pty.path + ": the port is gone"));
}

TEST(SirSerialPort, ExclusiveMissingAndModemlessPortsEachSayOneLine) {
    Pty pty;
    std::string error;
    auto first = Open("sir:" + pty.path, &error);
    ASSERT_TRUE(first) << error;
    EXPECT_FALSE(Open("sir:" + pty.path, &error));
    EXPECT_EQ(error, pty.path + " is in use by this program (pid " + std::to_string(::getpid()) + ")");
    first.reset();
    EXPECT_TRUE(Open("sir:" + pty.path, &error)) << "the lock goes with the port: " << error;

    EXPECT_FALSE(Open("sir:/dev/ttyDoesNotExist7", &error));
    EXPECT_THAT(error, HasSubstr("no serial port /dev/ttyDoesNotExist7"));
    EXPECT_EQ(error.find('\n'), std::string::npos);

    EXPECT_FALSE(Open("sir:/dev/null", &error));
    EXPECT_EQ(error, "/dev/null is not a serial port");

    // A dongle that needs DTR and RTS cannot run on a line without them.
    EXPECT_FALSE(Open("sir:" + pty.path + "?dongle=tekram", &error));
    EXPECT_THAT(error, HasSubstr("DTR and RTS"));
}

TEST(SirSerialPort, SpeedsFollowTheDongleKindAndTheCap) {
    Pty pty;
    std::string error;
    {
        auto plain = Open("sir:" + pty.path, &error);
        ASSERT_TRUE(plain) << error;
        EXPECT_EQ(plain->speeds(), std::vector<int>{9600});
        EXPECT_FALSE(plain->setSpeed(115200, &error));
        EXPECT_THAT(error, HasSubstr("plain adapter kind cannot run at 115200"));
        EXPECT_EQ(plain->speed(), 9600);
    }
    auto direct = Open("sir:" + pty.path + "?dongle=direct&speed=57600", &error);
    ASSERT_TRUE(direct) << error;
    EXPECT_EQ(direct->speeds(), (std::vector<int>{9600, 19200, 38400, 57600}));
    EXPECT_FALSE(direct->setSpeed(115200, &error));
    EXPECT_TRUE(direct->setSpeed(57600, &error)) << error;
    EXPECT_EQ(direct->speed(), 57600);
}

// ---- dongle routines

class RecordingControl : public SerialControl {
public:
    bool setLines(bool dtr, bool rts, std::string*) override {
        add(std::string("DTR") + (dtr ? "+" : "-") + " RTS" + (rts ? "+" : "-"));
        return true;
    }
    bool setLineSpeed(int baud, std::string*) override {
        add("line " + std::to_string(baud));
        return true;
    }
    bool writeControl(const Bytes& bytes, std::string*) override {
        std::string text = "write";
        for (const std::uint8_t b : bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", b);
            text += hex;
        }
        add(text);
        return true;
    }
    void wait(std::chrono::microseconds span) override { add("wait " + std::to_string(span.count())); }
    void add(const std::string& step) { trace += (trace.empty() ? "" : ", ") + step; }
    std::string trace;
};

std::string Routine(const char* kind, int baud) {
    RecordingControl control;
    std::string error;
    if (!SetDongleSpeed(*FindDongleKind(kind), control, baud, &error))
        return "refused: " + error;
    return control.trace;
}

TEST(DongleRoutines, DriveTheModemLinesAndControlBytesAsTheAdaptersExpect) {
    EXPECT_EQ(Routine("plain", 9600), "line 9600");
    EXPECT_EQ(Routine("plain", 19200), "refused: the plain adapter kind cannot run at 19200 baud");
    EXPECT_EQ(Routine("direct", 115200), "line 115200");
    // Tekram: reset, then the speed byte written at 9600 with RTS low, latched after 150 ms.
    EXPECT_EQ(Routine("tekram", 115200),
              "DTR- RTS+, wait 1000, DTR+ RTS+, wait 75, line 9600, "
              "DTR+ RTS-, wait 14, write 00, wait 150000, DTR+ RTS+, wait 50, line 115200");
    EXPECT_NE(Routine("tekram", 38400).find("write 12,"), std::string::npos);
    // ACTiSYS: one RTS pulse per step of 9600, 19200, 57600, 115200, 38400.
    const std::string pulse = "DTR+ RTS-, wait 10, DTR+ RTS+, wait 10";
    EXPECT_EQ(Routine("actisys+", 38400), "DTR- RTS+, wait 10, DTR+ RTS+, line 9600, " + pulse + ", " + pulse +
                                              ", " + pulse + ", " + pulse + ", line 38400");
    EXPECT_EQ(Routine("actisys", 38400), "refused: the actisys adapter kind cannot run at 38400 baud");
    EXPECT_EQ(Routine("esi", 19200), "DTR- RTS-, DTR- RTS+, line 9600, DTR+ RTS-, line 19200");
    EXPECT_EQ(Routine("girbil", 38400),
              "DTR+ RTS-, wait 20000, DTR- RTS+, wait 20000, write 03, wait 20000, DTR+ RTS+, line 9600, "
              "DTR- RTS+, wait 25, write 34 51, wait 100000, DTR+ RTS+, wait 25, line 38400");
    // LiteLink comes up at 115,200 and steps down one speed per pulse.
    const std::string lpulse = "DTR+ RTS-, wait 25, DTR+ RTS+, wait 25";
    EXPECT_EQ(Routine("litelink", 9600), "DTR+ RTS+, wait 25, " + lpulse + ", line 115200, " + lpulse + ", " +
                                             lpulse + ", " + lpulse + ", " + lpulse + ", line 9600");

    RecordingControl control;
    std::string error;
    ASSERT_TRUE(PowerUpDongle(*FindDongleKind("tekram"), control, &error));
    EXPECT_EQ(control.trace.substr(0, 28), "DTR+ RTS+, wait 50000, DTR- ");
    EXPECT_NE(control.trace.find("write 14"), std::string::npos) << "powered up at 9600: " << control.trace;
}

} // namespace
} // namespace dm::irda
