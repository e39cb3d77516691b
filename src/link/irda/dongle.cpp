#include "link/irda/dongle.h"

#include <algorithm>

namespace dm::irda {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// Adapters draw their power from DTR and RTS; a capacitor charges for about 50 ms.
constexpr milliseconds kPowerSettle{50};

bool LinesOn(SerialControl& c, std::string* e) { return c.setLines(true, true, e); }
bool LinesOff(SerialControl& c, std::string* e) { return c.setLines(false, false, e); }

// ---- Tekram IR-210B: a control byte written with RTS low selects the speed.
bool TekramReset(SerialControl& c, std::string* e) {
    if (!c.setLines(false, true, e))
        return false;
    c.wait(milliseconds(1));
    if (!c.setLines(true, true, e))
        return false;
    c.wait(microseconds(75));
    return true;
}

bool TekramSpeed(SerialControl& c, int baud, std::string* e) {
    constexpr std::uint8_t kPulseWidth = 0x10; // 1.6 us pulses below 115,200 baud
    std::uint8_t code = 0x04;
    switch (baud) {
    case 115200: code = 0x00; break;
    case 57600: code = kPulseWidth | 0x01; break;
    case 38400: code = kPulseWidth | 0x02; break;
    case 19200: code = kPulseWidth | 0x03; break;
    default: code = kPulseWidth | 0x04; break;
    }
    if (!c.setLines(true, false, e))
        return false;
    c.wait(microseconds(14));
    if (!c.writeControl({code}, e))
        return false;
    // The adapter takes its time to latch the byte.
    c.wait(milliseconds(150));
    if (!c.setLines(true, true, e))
        return false;
    c.wait(microseconds(50));
    return true;
}

// ---- ACTiSYS IR-220L(+): each RTS pulse steps to the next speed of a fixed cycle.
constexpr int kActisysCycle[] = {9600, 19200, 57600, 115200, 38400};

bool ActisysReset(SerialControl& c, std::string* e) {
    if (!c.setLines(false, true, e))
        return false;
    c.wait(microseconds(10));
    return c.setLines(true, true, e);
}

bool PulseRts(SerialControl& c, microseconds width, std::string* e) {
    if (!c.setLines(true, false, e))
        return false;
    c.wait(width);
    if (!c.setLines(true, true, e))
        return false;
    c.wait(width);
    return true;
}

bool ActisysSpeed(SerialControl& c, int baud, std::string* e) {
    for (const int step : kActisysCycle) {
        if (step == baud)
            return true;
        if (!PulseRts(c, microseconds(10), e))
            return false;
    }
    return true; // not reached: the kind lists only speeds of the cycle
}

// ---- Extended Systems JetEye ESI-9680: the speed is the state of DTR and RTS.
bool EsiPowerUp(SerialControl& c, std::string* e) { return c.setLines(false, true, e); }

bool EsiReset(SerialControl& c, std::string* e) {
    return c.setLines(false, false, e) && c.setLines(false, true, e);
}

bool EsiSpeed(SerialControl& c, int baud, std::string* e) {
    switch (baud) {
    case 19200: return c.setLines(true, false, e);
    case 115200: return c.setLines(true, true, e);
    default: return c.setLines(false, true, e);
    }
}

// ---- Greenwich GIrBIL: command mode (DTR low, RTS high) takes register bytes.
bool GirbilReset(SerialControl& c, std::string* e) {
    constexpr std::uint8_t kTransmitAndReceive = 0x03;
    if (!c.setLines(true, false, e))
        return false;
    c.wait(milliseconds(20));
    if (!c.setLines(false, true, e))
        return false;
    c.wait(milliseconds(20));
    if (!c.writeControl({kTransmitAndReceive}, e))
        return false;
    c.wait(milliseconds(20));
    return c.setLines(true, true, e);
}

bool GirbilSpeed(SerialControl& c, int baud, std::string* e) {
    constexpr std::uint8_t kLoad = 0x51;
    std::uint8_t code = 0x32;
    switch (baud) {
    case 19200: code = 0x33; break;
    case 38400: code = 0x34; break;
    case 57600: code = 0x35; break;
    case 115200: code = 0x36; break;
    default: code = 0x32; break;
    }
    if (!c.setLines(false, true, e))
        return false;
    c.wait(microseconds(25));
    if (!c.writeControl({code, kLoad}, e))
        return false;
    c.wait(milliseconds(100));
    if (!c.setLines(true, true, e))
        return false;
    c.wait(microseconds(25));
    return true;
}

// ---- Parallax LiteLink: comes up at 115,200; each RTS pulse steps one speed down.
constexpr int kLitelinkCycle[] = {115200, 57600, 38400, 19200, 9600};

bool LitelinkReset(SerialControl& c, std::string* e) {
    if (!c.setLines(true, true, e))
        return false;
    c.wait(microseconds(25));
    return PulseRts(c, microseconds(25), e);
}

bool LitelinkSpeed(SerialControl& c, int baud, std::string* e) {
    for (const int step : kLitelinkCycle) {
        if (step == baud)
            return true;
        if (!PulseRts(c, microseconds(25), e))
            return false;
    }
    return true;
}

bool DirectSpeed(SerialControl&, int, std::string*) { return true; }

const std::vector<int> kSirSpeeds = {9600, 19200, 38400, 57600, 115200};

std::vector<DongleKind> MakeKinds() {
    std::vector<DongleKind> kinds;
    kinds.push_back({"plain", "an adapter with no speed routine: 9600 baud only", {9600}});
    // No routine, but the line speed is the infrared speed: built-in SIR ports, adapters
    // with their own UART bridge that follow the line, and pseudo-terminals.
    kinds.push_back({"direct", "infrared follows the serial line's speed (built-in SIR ports)", kSirSpeeds,
                     kContactSpeed, nullptr, nullptr, DirectSpeed, nullptr});
    kinds.push_back({"tekram", "Tekram IrMate IR-210B", kSirSpeeds, kContactSpeed, LinesOn, TekramReset,
                     TekramSpeed, LinesOff});
    kinds.push_back({"actisys", "ACTiSYS IR-220L", {9600, 19200, 57600, 115200}, kContactSpeed, LinesOn,
                     ActisysReset, ActisysSpeed, LinesOff});
    kinds.push_back({"actisys+", "ACTiSYS IR-220L+", kSirSpeeds, kContactSpeed, LinesOn, ActisysReset,
                     ActisysSpeed, LinesOff});
    kinds.push_back({"esi", "Extended Systems JetEye ESI-9680", {9600, 19200, 115200}, kContactSpeed,
                     EsiPowerUp, EsiReset, EsiSpeed, LinesOff});
    kinds.push_back({"girbil", "Greenwich GIrBIL", kSirSpeeds, kContactSpeed, LinesOn, GirbilReset, GirbilSpeed,
                     LinesOff});
    kinds.push_back({"litelink", "Parallax LiteLink", kSirSpeeds, 115200, LinesOn, LitelinkReset, LitelinkSpeed,
                     LinesOff});
    return kinds;
}

} // namespace

const std::vector<DongleKind>& DongleKinds() {
    static const std::vector<DongleKind> kinds = MakeKinds();
    return kinds;
}

const DongleKind* FindDongleKind(std::string_view name) {
    for (const DongleKind& kind : DongleKinds())
        if (kind.name == name)
            return &kind;
    return nullptr;
}

std::string DongleKindNames() {
    std::string names;
    for (const DongleKind& kind : DongleKinds())
        names += (names.empty() ? "" : ", ") + std::string(kind.name);
    return names;
}

bool SetDongleSpeed(const DongleKind& kind, SerialControl& port, int baud, std::string* error) {
    if (std::find(kind.speeds.begin(), kind.speeds.end(), baud) == kind.speeds.end()) {
        if (error)
            *error = "the " + std::string(kind.name) + " adapter kind cannot run at " + std::to_string(baud) +
                     " baud";
        return false;
    }
    if (!kind.speedRoutine)
        return port.setLineSpeed(baud, error);
    if (kind.reset) {
        if (!kind.reset(port, error) || !port.setLineSpeed(kind.resetSpeed, error))
            return false;
    }
    return kind.speedRoutine(port, baud, error) && port.setLineSpeed(baud, error);
}

bool PowerUpDongle(const DongleKind& kind, SerialControl& port, std::string* error) {
    if (kind.powerUp) {
        if (!kind.powerUp(port, error))
            return false;
        port.wait(kPowerSettle);
    }
    return SetDongleSpeed(kind, port, kContactSpeed, error);
}

void PowerDownDongle(const DongleKind& kind, SerialControl& port) {
    std::string ignored;
    if (kind.powerDown)
        kind.powerDown(port, &ignored);
}

} // namespace dm::irda
