#pragma once
// Plays a wave file on ALSA's "default" device (libsndfile reads it), waiting
// until the last frame has been played.

#include "platform/soundplayer.h"

namespace wendral {

class AlsaSoundPlayer : public SoundPlayer
{
public:
    AlsaSoundPlayer();
    void play(const QString &path) override;
    // The ALSA device name; "default" unless changed (tests).
    void setDevice(const QString &device) { m_device = device; }

private:
    QString m_device;
};

} // namespace wendral
