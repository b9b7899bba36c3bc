#pragma once

#include "platform/Port.h"

#include <QByteArray>
#include <QString>

namespace platform {

// Flags of a play request, with the values of the Windows multimedia library.
inline constexpr quint32 SND_ASYNC = 0x0001;     // return at once; the sound plays on
inline constexpr quint32 SND_NODEFAULT = 0x0002; // play nothing, not the default sound, when not found
inline constexpr quint32 SND_MEMORY = 0x0004;    // the sound is a WAVE image held in memory
inline constexpr quint32 SND_LOOP = 0x0008;      // repeat until stopped (always with SND_ASYNC)

// The system's waveform sound output. One sound plays at a time: starting a sound stops
// the one playing. Having no audio device or sound server is not an error for the caller:
// the sound just does not play.
class SoundSystem {
public:
    virtual ~SoundSystem() = default;

    // Plays a WAVE image (a whole RIFF/WAVE file) held in memory; the bytes are copied,
    // so the caller may change them at once. True when the sound started (or, without
    // SND_ASYNC, has played to its end).
    virtual bool playWave(const QByteArray& wave, quint32 flags) = 0;
    // Plays a system sound event by its Windows name ("SystemAsterisk", ".Default", ...),
    // compared without regard to letter case. An empty name plays nothing; a name the
    // system does not know plays the default sound unless SND_NODEFAULT is given.
    virtual bool playEvent(const QString& eventName, quint32 flags) = 0;
    // Stops whatever waveform sound is playing.
    virtual void stop() = 0;

    static std::unique_ptr<SoundSystem> makeDefault();
};

inline SoundSystem& soundSystem() {
    return Port<SoundSystem>::instance();
}

} // namespace platform
