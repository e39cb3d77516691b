#pragma once
// The frame port of a USB adapter of the "IrDA bridge" device class (interface class 0xFE,
// subclass 0x02), link usb-irda[:BUS-ADDRESS], through libusb-1.0. The device frames and
// checks frames itself; each bulk transfer carries a one-byte header: speed and extra
// BOFs going out, media-busy coming in. A class descriptor tells the speeds, data sizes
// and window sizes it can take. A reader thread waits on the bulk-in endpoint and feeds
// a pipe, so the stack's thread can poll the port like any other.
//
// Builds without libusb (the Windows cross-build, say) say the link is not available.
#include "link/irda/frame_port.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dm::irda {

inline constexpr std::uint8_t kUsbIrdaInterfaceClass = 0xFE;
inline constexpr std::uint8_t kUsbIrdaInterfaceSubclass = 0x02;

// The class descriptor (descriptor type 0x21, 12 bytes, little endian).
struct UsbIrdaClassDescriptor {
    std::uint16_t specRevision = 0;   // BCD, 0x0100
    std::uint8_t dataSizes = 0;       // IrLAP data-size bits (0x01 64 ... 0x20 2048)
    std::uint8_t windowSizes = 0;     // IrLAP window-size bits (0x01 1 ... 0x40 7)
    std::uint8_t minTurnaround = 0;   // IrLAP minimum-turnaround bits
    std::uint16_t baudRates = 0;      // 0x01 2400, 0x02 9600 ... 0x20 115200 ... 0x100 4 Mb/s
    std::uint8_t extraBofs = 0;       // IrLAP additional-BOF bits
    std::uint8_t rateSniff = 0;
    std::uint8_t maxUnicastList = 0;
};

// Nothing, and why, when the bytes are too short or of another descriptor type.
std::optional<UsbIrdaClassDescriptor> ParseUsbIrdaClassDescriptor(const std::uint8_t* data, std::size_t size,
                                                                  std::string* error);
// The speeds in baud of the descriptor's rate bits, ascending.
std::vector<int> UsbIrdaSpeeds(std::uint16_t baudRates);

// The outbound header: a speed (one the class knows) and extra BOFs to apply after this
// transfer, each only when given; 0 changes nothing. Extra BOFs round up to the next
// count the class can say (0, 1, 2, 3, 6, 12, 24, 48).
std::uint8_t UsbIrdaOutHeader(std::optional<int> speed, std::optional<int> extraBofs);

// One inbound transfer: the media-busy flag and the frame after the header (empty when
// the transfer only told the status).
struct UsbIrdaInbound {
    bool mediaBusy = false;
    Bytes frame;
};
UsbIrdaInbound ParseUsbIrdaInbound(const std::uint8_t* data, std::size_t size);

// "usb-irda" or "usb-irda:BUS-ADDRESS" (as lsusb shows a device: bus 1, device 4 is
// "1-4"); the address part, empty for the first device found. Nothing, and why, when
// malformed.
std::optional<std::string> ParseUsbIrdaLink(const std::string& linkName, std::string* error);

// Opens the bridge at busAddress (empty: the first found), claims its interface and
// starts its reader. Nothing, and one line in *error, when there is none, it cannot be
// opened (saying how to get permission), or this build has no USB support.
std::unique_ptr<FramePort> OpenUsbIrdaPort(const std::string& busAddress, std::string* error);

} // namespace dm::irda
