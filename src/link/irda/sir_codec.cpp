#include "link/irda/sir_codec.h"

#include <array>

namespace dm::irda {

namespace {

constexpr std::array<std::uint16_t, 256> MakeFcsTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned v = i;
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 1) ? (v >> 1) ^ 0x8408 : v >> 1;
        table[i] = static_cast<std::uint16_t>(v);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kFcsTable = MakeFcsTable();

void PutEscaped(std::uint8_t byte, Bytes& out) {
    if (byte == kSirBof || byte == kSirEof || byte == kSirEscape) {
        out.push_back(kSirEscape);
        out.push_back(static_cast<std::uint8_t>(byte ^ kSirEscapeXor));
    } else {
        out.push_back(byte);
    }
}

} // namespace

std::uint16_t Fcs16(const std::uint8_t* data, std::size_t size, std::uint16_t fcs) {
    for (std::size_t i = 0; i < size; ++i)
        fcs = static_cast<std::uint16_t>((fcs >> 8) ^ kFcsTable[(fcs ^ data[i]) & 0xFF]);
    return fcs;
}

void SirWrap(const Bytes& frame, int extraBofs, Bytes& out) {
    out.reserve(out.size() + static_cast<std::size_t>(extraBofs > 0 ? extraBofs : 0) + frame.size() * 2 + 8);
    for (int i = 0; i < extraBofs; ++i)
        out.push_back(kSirXbof);
    out.push_back(kSirBof);
    for (const std::uint8_t byte : frame)
        PutEscaped(byte, out);
    const std::uint16_t fcs = static_cast<std::uint16_t>(~Fcs16(frame.data(), frame.size()));
    PutEscaped(static_cast<std::uint8_t>(fcs & 0xFF), out);
    PutEscaped(static_cast<std::uint8_t>(fcs >> 8), out);
    out.push_back(kSirEof);
}

void SirUnwrapper::reset() {
    state_ = State::Outside;
    frame_.clear();
}

void SirUnwrapper::put(std::uint8_t byte) {
    // The check's two bytes ride along until EOF.
    if (frame_.size() >= maxFrame_ + 2) {
        ++counts_.overlong;
        frame_.clear();
        state_ = State::Overlong;
        return;
    }
    frame_.push_back(byte);
}

void SirUnwrapper::finish(std::vector<Bytes>& frames) {
    // Address, control and the check at least.
    if (frame_.size() < 4 || Fcs16(frame_.data(), frame_.size()) != kFcsGood) {
        ++counts_.badCheck;
    } else {
        frame_.resize(frame_.size() - 2);
        frames.push_back(std::move(frame_));
        ++counts_.good;
    }
    frame_ = Bytes{};
    state_ = State::Outside;
}

void SirUnwrapper::feed(const std::uint8_t* data, std::size_t size, std::vector<Bytes>& frames) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        if (byte == kSirBof) {
            // A BOF inside a frame starts it over; several BOFs in a row are one.
            if (state_ == State::Escaped || (state_ == State::Inside && !frame_.empty()))
                ++counts_.aborted;
            frame_.clear();
            state_ = State::Inside;
            continue;
        }
        switch (state_) {
        case State::Outside:
            break; // XBOFs and noise between frames
        case State::Overlong:
            if (byte == kSirEof)
                state_ = State::Outside;
            break;
        case State::Inside:
            if (byte == kSirEof)
                finish(frames);
            else if (byte == kSirEscape)
                state_ = State::Escaped;
            else
                put(byte);
            break;
        case State::Escaped:
            if (byte == kSirEof || byte == kSirEscape) {
                // 0x7D 0xC1 is the abort sequence; an escaped escape is no valid byte.
                ++counts_.aborted;
                frame_.clear();
                state_ = State::Outside;
            } else {
                state_ = State::Inside;
                put(static_cast<std::uint8_t>(byte ^ kSirEscapeXor));
            }
            break;
        }
    }
}

} // namespace dm::irda
