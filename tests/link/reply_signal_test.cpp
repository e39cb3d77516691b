// The reply signal's samples: five tones of the right pitch and length, in order.
#include "link/reply_signal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace dm {
namespace {

// Frequency of a tone from its zero crossings: the crossings are located between
// samples by linear interpolation, and half a period lies between two neighbours.
// The first and last 2 ms are left out: a tone fades in and out to silence there.
double FrequencyByZeroCrossings(const std::int16_t* s, std::size_t n, int rate) {
    std::vector<double> crossings;
    const std::size_t margin = static_cast<std::size_t>(rate) / 500;
    for (std::size_t i = margin + 1; i + margin < n; ++i) {
        const double a = s[i - 1], b = s[i];
        if ((a < 0 && b >= 0) || (a > 0 && b <= 0))
            crossings.push_back(static_cast<double>(i - 1) + a / (a - b));
    }
    if (crossings.size() < 2)
        return 0.0;
    const double span = (crossings.back() - crossings.front()) / rate;
    return (static_cast<double>(crossings.size()) - 1.0) / (2.0 * span);
}

TEST(ReplySignalSamples, FiveTonesOfThirtyMillisecondsInOrder) {
    for (int rate : {8000, 22050, 44100, 48000}) {
        const std::vector<std::int16_t> s = ReplySignalSamples(rate);
        const std::size_t perTone = static_cast<std::size_t>(rate) * 30 / 1000;
        ASSERT_EQ(s.size(), 5 * perTone) << rate;
        const double expected[] = {260, 300, 280, 260, 240};
        for (std::size_t t = 0; t < 5; ++t) {
            const double hz = FrequencyByZeroCrossings(s.data() + t * perTone, perTone, rate);
            EXPECT_NEAR(hz, expected[t], 2.0) << "rate " << rate << " tone " << t;
        }
    }
}

TEST(ReplySignalSamples, AudibleWithoutClippingAndQuietAtTheJoins) {
    const int rate = 44100;
    const std::vector<std::int16_t> s = ReplySignalSamples(rate);
    const std::size_t perTone = static_cast<std::size_t>(rate) * 30 / 1000;
    int peak = 0;
    for (std::int16_t v : s)
        peak = std::max(peak, std::abs(static_cast<int>(v)));
    EXPECT_GT(peak, 8000);
    EXPECT_LT(peak, 32767);
    // A tone begins and ends at silence, so switching pitch does not click.
    for (std::size_t t = 0; t < 5; ++t) {
        EXPECT_EQ(s[t * perTone], 0) << t;
        EXPECT_EQ(s[t * perTone + perTone - 1], 0) << t;
    }
}

TEST(ReplySignalSamples, NoSamplesForANonsenseRate) {
    EXPECT_TRUE(ReplySignalSamples(0).empty());
    EXPECT_TRUE(ReplySignalSamples(-44100).empty());
    // A rate too low for a whole sample per tone gives no tone rather than a crash.
    EXPECT_TRUE(ReplySignalSamples(20).empty());
}

TEST(PlayReplySignal, PrintsNothingWhetherOrNotADeviceExists) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    PlayReplySignalNow();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    // The background variant returns to the caller; calling it again while the first
    // may still sound is harmless.
    PlayReplySignal();
    PlayReplySignal();
}

} // namespace
} // namespace dm
