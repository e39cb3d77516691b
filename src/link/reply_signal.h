#pragma once
// The five-tone signal that greets every reply from the dosimeter.
#include <array>
#include <cstdint>
#include <vector>

namespace dm {

// The tones in the order they sound, each kReplySignalToneMs long.
constexpr std::array<int, 5> kReplySignalTonesHz{260, 300, 280, 260, 240};
constexpr int kReplySignalToneMs = 30;

// Mono 16-bit PCM of the signal at sampleRate samples per second: each tone is
// sampleRate * 30 / 1000 samples of a sine, starting at phase 0. Empty for a rate
// of 0 or less.
std::vector<std::int16_t> ReplySignalSamples(int sampleRate);

// Plays the signal in the background and returns at once. Without an audio device,
// or when anything about the device fails, nothing sounds and nothing is reported.
// A signal asked for while the previous one still sounds is dropped.
void PlayReplySignal();

// Plays the signal on the calling thread; false when it could not be played.
// Prints nothing, even where the audio library would.
bool PlayReplySignalNow();

} // namespace dm
