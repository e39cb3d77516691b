#include "link/reply_signal.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#elif defined(DM_HAVE_ALSA)
#include <alsa/asoundlib.h>
#endif

namespace dm {

namespace {

constexpr int kPlaybackRate = 44100;
constexpr double kAmplitude = 0.4 * 32767.0;

// Only one signal sounds at a time; one asked for meanwhile is dropped rather than
// queued, so a burst of replies cannot pile up threads.
std::atomic<bool> g_playing{false};

#if defined(DM_HAVE_ALSA)
// The audio library writes its configuration complaints to stderr by default, which
// would end up in the command-line tool's error stream on machines without sound.
void SilentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

bool PlayWithAlsa() {
    snd_lib_error_set_handler(SilentAlsaErrors);
    snd_pcm_t* pcm = nullptr;
    // Opening non-blocking: a device held by another program fails at once instead of
    // waiting for it to be released.
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return false;
    bool played = false;
    if (snd_pcm_nonblock(pcm, 0) == 0 &&
        snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                           kPlaybackRate, 1, 100000) == 0) {
        const std::vector<std::int16_t> samples = ReplySignalSamples(kPlaybackRate);
        std::size_t done = 0;
        played = true;
        while (done < samples.size()) {
            snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples.data() + done, samples.size() - done);
            if (n < 0)
                n = snd_pcm_recover(pcm, static_cast<int>(n), 1);
            if (n < 0) {
                played = false;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        if (played)
            snd_pcm_drain(pcm);
    }
    snd_pcm_close(pcm);
    snd_config_update_free_global();
    return played;
}
#endif

} // namespace

std::vector<std::int16_t> ReplySignalSamples(int sampleRate) {
    std::vector<std::int16_t> samples;
    if (sampleRate <= 0)
        return samples;
    const long long perTone = static_cast<long long>(sampleRate) * kReplySignalToneMs / 1000;
    // A 1 ms ramp at both ends of each tone keeps the joins from clicking; it scales
    // the sine only, so the tone's zero crossings stay where they are.
    const long long ramp = std::max(1LL, static_cast<long long>(sampleRate) / 1000);
    samples.reserve(static_cast<std::size_t>(perTone) * kReplySignalTonesHz.size());
    for (int hz : kReplySignalTonesHz) {
        for (long long i = 0; i < perTone; ++i) {
            const double phase = 2.0 * std::numbers::pi * hz * static_cast<double>(i) / sampleRate;
            const long long edge = std::min(i, perTone - 1 - i);
            const double gain = edge < ramp ? static_cast<double>(edge) / ramp : 1.0;
            samples.push_back(static_cast<std::int16_t>(std::lround(kAmplitude * gain * std::sin(phase))));
        }
    }
    return samples;
}

bool PlayReplySignalNow() {
#if defined(_WIN32)
    for (int hz : kReplySignalTonesHz) {
        if (!Beep(static_cast<DWORD>(hz), kReplySignalToneMs))
            return false;
    }
    return true;
#elif defined(DM_HAVE_ALSA)
    return PlayWithAlsa();
#else
    return false;
#endif
}

void PlayReplySignal() {
    bool expected = false;
    if (!g_playing.compare_exchange_strong(expected, true))
        return;
    try {
        std::thread([] {
            PlayReplySignalNow();
            g_playing = false;
        }).detach();
    } catch (...) {
        // No thread to be had: the signal is a courtesy, the exchange goes on without it.
        g_playing = false;
    }
}

} // namespace dm
