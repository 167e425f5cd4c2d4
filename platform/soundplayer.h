#pragma once
// The blocking sound. play() returns only when the sound has finished; a file
// that is missing, unreadable or not playable, or a machine without a sound
// device, plays nothing and returns at once, without any message.

#include <QString>

namespace wendral {

class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QString &path) = 0;
};

} // namespace wendral
