#pragma once
// SIR framing of IrLAP frames on a serial line (up to 115,200 baud): extra beginning
// flags, BOF, the frame and its 16-bit frame check with 0xC0/0xC1/0x7D escaped, EOF.
// SirWrap builds what goes out; SirUnwrapper takes the line's bytes in whatever pieces
// they come and hands back each whole frame whose check is good.
#include "link/irda/frame_port.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dm::irda {

inline constexpr std::uint8_t kSirXbof = 0xFF;
inline constexpr std::uint8_t kSirBof = 0xC0;
inline constexpr std::uint8_t kSirEof = 0xC1;
inline constexpr std::uint8_t kSirEscape = 0x7D;
inline constexpr std::uint8_t kSirEscapeXor = 0x20;

// CRC-CCITT as IrLAP uses it: reflected polynomial 0x8408, register starting at 0xFFFF.
// Run over a good frame and its (complemented) check, the register ends at kFcsGood.
inline constexpr std::uint16_t kFcsInit = 0xFFFF;
inline constexpr std::uint16_t kFcsGood = 0xF0B8;
std::uint16_t Fcs16(const std::uint8_t* data, std::size_t size, std::uint16_t fcs = kFcsInit);

// Largest frame the unwrapper keeps, address byte to last information byte: IrLAP's
// largest data size (2048) plus address and control, with room to spare.
inline constexpr std::size_t kSirMaxFrame = 2048 + 2 + 14;

// Appends to out: extraBofs XBOFs, BOF, the escaped frame and check, EOF.
void SirWrap(const Bytes& frame, int extraBofs, Bytes& out);

class SirUnwrapper {
public:
    struct Counts {
        std::uint64_t good = 0;
        std::uint64_t badCheck = 0; // a check that did not match, or too short to hold one
        std::uint64_t aborted = 0;  // cut by a BOF, or an escape followed by BOF/EOF
        std::uint64_t overlong = 0; // longer than the bound: dropped whole
    };

    explicit SirUnwrapper(std::size_t maxFrame = kSirMaxFrame) : maxFrame_(maxFrame) {}

    // Takes the next bytes from the line; appends each finished good frame, without its
    // check. Bytes outside a frame (XBOFs, noise) are skipped.
    void feed(const std::uint8_t* data, std::size_t size, std::vector<Bytes>& frames);
    // Forgets a frame in progress (after a speed change, say).
    void reset();

    const Counts& counts() const { return counts_; }

private:
    enum class State { Outside, Inside, Escaped, Overlong };

    void finish(std::vector<Bytes>& frames);
    void put(std::uint8_t byte);

    std::size_t maxFrame_;
    State state_ = State::Outside;
    Bytes frame_;
    Counts counts_;
};

} // namespace dm::irda
