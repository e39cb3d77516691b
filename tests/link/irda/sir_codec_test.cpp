#include "link/irda/sir_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace dm::irda {
namespace {

Bytes Wrapped(const Bytes& frame, int extraBofs = 0) {
    Bytes out;
    SirWrap(frame, extraBofs, out);
    return out;
}

std::vector<Bytes> Unwrap(SirUnwrapper& u, const Bytes& wire) {
    std::vector<Bytes> frames;
    u.feed(wire.data(), wire.size(), frames);
    return frames;
}

Bytes EveryByte() {
    Bytes frame;
    for (int b = 0; b < 256; ++b)
        frame.push_back(static_cast<std::uint8_t>(b));
    return frame;
}

TEST(SirCodec, FrameCheckIsTheX25Crc) {
    const std::string check = "123456789";
    const auto* data = reinterpret_cast<const std::uint8_t*>(check.data());
    EXPECT_EQ(static_cast<std::uint16_t>(~Fcs16(data, check.size())), 0x906E);
    // Over a frame and its check sent low byte first, the register lands on the good value.
    Bytes withCheck(check.begin(), check.end());
    const auto fcs = static_cast<std::uint16_t>(~Fcs16(data, check.size()));
    withCheck.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
    withCheck.push_back(static_cast<std::uint8_t>(fcs >> 8));
    EXPECT_EQ(Fcs16(withCheck.data(), withCheck.size()), kFcsGood);
}

TEST(SirCodec, EveryByteValueSurvivesWrapAndUnwrapInAnyPieces) {
    const Bytes frame = EveryByte();
    const Bytes wire = Wrapped(frame, 10);
    ASSERT_EQ(std::count(wire.begin(), wire.begin() + 10, kSirXbof), 10);
    EXPECT_EQ(wire[10], kSirBof);
    EXPECT_EQ(wire.back(), kSirEof);
    // Between BOF and EOF no flag byte appears unescaped.
    for (std::size_t i = 11; i + 1 < wire.size(); ++i)
        EXPECT_TRUE(wire[i] != kSirBof && wire[i] != kSirEof) << i;

    for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, wire.size()}) {
        SirUnwrapper u;
        std::vector<Bytes> frames;
        for (std::size_t at = 0; at < wire.size(); at += piece)
            u.feed(wire.data() + at, std::min(piece, wire.size() - at), frames);
        ASSERT_EQ(frames.size(), 1u) << "pieces of " << piece;
        EXPECT_EQ(frames[0], frame);
    }
}

TEST(SirCodec, BadFramesAreDroppedAndCountedWhileGoodOnesAroundThemArrive) {
    const Bytes a = {0xFF, 0x93, 0x01, 0x7D, 0xC0};
    const Bytes b = {0x03, 0x11, 0xC1};
    Bytes wire = {0x00, 0x55, kSirEof, 0xFF, 0xFF}; // noise, a stray EOF and XBOFs before anything
    const Bytes goodA = Wrapped(a, 2);
    wire.insert(wire.end(), goodA.begin(), goodA.end());

    Bytes corrupt = Wrapped(b);
    corrupt[2] ^= 0x01; // one bit off in the address byte
    wire.insert(wire.end(), corrupt.begin(), corrupt.end());

    Bytes cut = Wrapped(b); // a BOF arrives before this one's EOF
    cut.pop_back();
    wire.insert(wire.end(), cut.begin(), cut.end());
    const Bytes goodB = Wrapped(b);
    wire.insert(wire.end(), goodB.begin(), goodB.end());

    const Bytes aborted = {kSirBof, 0x03, 0x11, kSirEscape, kSirEof}; // the abort sequence
    wire.insert(wire.end(), aborted.begin(), aborted.end());
    const Bytes tooShort = {kSirBof, 0x03, 0x11, kSirEof};
    wire.insert(wire.end(), tooShort.begin(), tooShort.end());
    wire.insert(wire.end(), goodA.begin(), goodA.end());

    SirUnwrapper u;
    const std::vector<Bytes> frames = Unwrap(u, wire);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], a);
    EXPECT_EQ(frames[1], b);
    EXPECT_EQ(frames[2], a);
    EXPECT_EQ(u.counts().good, 3u);
    EXPECT_EQ(u.counts().badCheck, 2u); // the flipped bit and the frame too short for a check
    EXPECT_EQ(u.counts().aborted, 2u);  // cut by a BOF, and the abort sequence
}

TEST(SirCodec, AnOverlongFrameIsDroppedWholeWithinTheBound) {
    SirUnwrapper u(64);
    const Bytes longFrame(65, 0x42);
    const Bytes fitting(64, 0x42);
    Bytes wire = Wrapped(longFrame);
    // An endless run with no EOF keeps nothing beyond the bound either.
    Bytes flood(1 << 16, 0x42);
    flood.insert(flood.begin(), kSirBof);
    wire.insert(wire.end(), flood.begin(), flood.end());
    const Bytes next = Wrapped(fitting);
    wire.insert(wire.end(), next.begin(), next.end());

    const std::vector<Bytes> frames = Unwrap(u, wire);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], fitting);
    EXPECT_EQ(u.counts().overlong, 2u);
}

} // namespace
} // namespace dm::irda
