#pragma once
// Serial IrDA adapters ("dongles") and the routines that power them up and change their
// speed through the port's modem lines (DTR, RTS) and control bytes. The routines drive
// a SerialControl, so tests replay them against a recording double: a pseudo-terminal
// has no modem lines. Timings follow the adapters' public descriptions (the old Linux
// kernel's dongle drivers describe them).
#include "link/irda/frame_port.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace dm::irda {

// What a dongle routine may do to the port.
class SerialControl {
public:
    virtual ~SerialControl() = default;
    virtual bool setLines(bool dtr, bool rts, std::string* error) = 0;
    // The UART's own speed; the adapter's follows only where it tracks the line.
    virtual bool setLineSpeed(int baud, std::string* error) = 0;
    // Writes control bytes at the current line speed; returns once they have left.
    virtual bool writeControl(const Bytes& bytes, std::string* error) = 0;
    virtual void wait(std::chrono::microseconds span) = 0;
};

struct DongleKind {
    std::string_view name;        // as in sir:PATH?dongle=NAME
    std::string_view description; // the adapters it is for
    std::vector<int> speeds;      // ascending; kContactSpeed first
    // The speed adapter and line run at after a reset, before the speed routine.
    int resetSpeed = kContactSpeed;
    // Steps; null where the adapter needs none.
    bool (*powerUp)(SerialControl&, std::string*) = nullptr;
    bool (*reset)(SerialControl&, std::string*) = nullptr;
    bool (*speedRoutine)(SerialControl&, int baud, std::string*) = nullptr;
    bool (*powerDown)(SerialControl&, std::string*) = nullptr;
};

// Every kind, "plain" first.
const std::vector<DongleKind>& DongleKinds();
// Nothing for an unknown name.
const DongleKind* FindDongleKind(std::string_view name);
// "plain, direct, tekram, ..." for messages.
std::string DongleKindNames();

// Powers the adapter up and brings adapter and line to kContactSpeed.
bool PowerUpDongle(const DongleKind& kind, SerialControl& port, std::string* error);
// Resets the adapter, runs its speed routine, then sets the line to baud. A speed the
// kind does not list is refused before anything is touched.
bool SetDongleSpeed(const DongleKind& kind, SerialControl& port, int baud, std::string* error);
void PowerDownDongle(const DongleKind& kind, SerialControl& port);

} // namespace dm::irda
