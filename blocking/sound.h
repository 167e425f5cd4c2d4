#pragma once
// The blocking sound. playSound returns only when the sound has finished; a
// file that is missing, unreadable or not playable, or a machine without a
// sound device, plays nothing and returns at once, without any message.

#include <QString>
#include <QStringList>

namespace wendral {

class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QString &path) = 0;
};

// Reads the file with libsndfile and plays it on ALSA's "default" device,
// waiting until the last frame has been played.
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

// Remembers what it was asked to play, in order; plays nothing.
class RecordingSoundPlayer : public SoundPlayer
{
public:
    void play(const QString &path) override { m_played.append(path); }
    const QStringList &played() const { return m_played; }
    void clear() { m_played.clear(); }

private:
    QStringList m_played;
};

// The player playSound uses (not owned); nullptr restores the ALSA player.
void setSoundPlayer(SoundPlayer *player);
SoundPlayer &soundPlayer();

// modPlaySound: plays the wave file and returns when it has finished.
void playSound(const QString &path);

} // namespace wendral
