#include "platform/linux/alsasoundplayer.h"

#include <QFile>

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <cstdarg>
#include <vector>

namespace wendral {
namespace {
// ALSA reports its errors on stderr unless a handler takes them; the program
// writes no messages, so the handler drops them.
void silentAlsaError(const char *, int, const char *, int, const char *, ...) {}

struct SndFile
{
    SNDFILE *file = nullptr;
    ~SndFile()
    {
        if (file)
            sf_close(file);
    }
};

struct Pcm
{
    snd_pcm_t *pcm = nullptr;
    ~Pcm()
    {
        if (pcm)
            snd_pcm_close(pcm);
    }
};

// Writes all frames, recovering from an underrun once per write. Returns false
// when the device refuses the data.
bool writeAll(snd_pcm_t *pcm, const short *data, sf_count_t frames, int channels)
{
    while (frames > 0) {
        snd_pcm_sframes_t n = snd_pcm_writei(pcm, data, static_cast<snd_pcm_uframes_t>(frames));
        if (n < 0) {
            n = snd_pcm_recover(pcm, static_cast<int>(n), 1);
            if (n < 0)
                return false;
            continue;
        }
        data += n * channels;
        frames -= n;
    }
    return true;
}
} // namespace

AlsaSoundPlayer::AlsaSoundPlayer() : m_device(QStringLiteral("default"))
{
    snd_lib_error_set_handler(&silentAlsaError);
}

void AlsaSoundPlayer::play(const QString &path)
{
    if (path.isEmpty())
        return;
    SF_INFO info{};
    SndFile in;
    in.file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!in.file)
        return;
    if (info.channels < 1 || info.channels > 8 || info.samplerate < 1000 || info.samplerate > 384000 ||
        info.frames <= 0)
        return;

    Pcm out;
    snd_lib_error_set_handler(&silentAlsaError);
    // ALSA keeps the configuration it read first; reading it afresh lets a
    // sound server that started (or restarted) after the program be used.
    snd_config_update_free_global();
    if (snd_pcm_open(&out.pcm, m_device.toLocal8Bit().constData(), SND_PCM_STREAM_PLAYBACK, 0) < 0) {
        out.pcm = nullptr;
        return;
    }
    // 100 ms of device latency; ALSA resamples when the device wants another rate.
    if (snd_pcm_set_params(out.pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                           static_cast<unsigned>(info.channels), static_cast<unsigned>(info.samplerate), 1, 100000) < 0)
        return;

    constexpr sf_count_t kChunkFrames = 4096;
    std::vector<short> buffer(static_cast<size_t>(kChunkFrames * info.channels));
    for (;;) {
        const sf_count_t got = sf_readf_short(in.file, buffer.data(), kChunkFrames);
        if (got <= 0)
            break;
        if (!writeAll(out.pcm, buffer.data(), got, info.channels))
            return;
    }
    // Returns when every queued frame has been played.
    snd_pcm_drain(out.pcm);
}

} // namespace wendral
