#pragma once

#include "platform/SoundSystem.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

class QTemporaryFile;
struct ca_context;

namespace platform {

// The sound output over libcanberra. Sound events are played from the freedesktop sound
// theme under the theme's names; a WAVE image from memory is written to a private
// temporary file that lives while it plays, because libcanberra plays files by path.
// A looped sound is started again each time it finishes until it is stopped.
//
// libcanberra reports the end of a sound on its own thread; the report is handed to the
// thread that created this object through its event loop. Without a running loop a looped
// sound plays once, and a finished sound's temporary file stays until the next play or stop.
//
// All objects share one libcanberra context that lives until the process ends: its ALSA
// backend lets a sound's thread run on for a moment after the sound has ended, and
// destroying a context unloads the backend under that thread.
class CanberraSoundSystem final : public SoundSystem {
public:
    // `scratchFolder` holds the temporary WAVE files; empty: the user's runtime folder
    // (XDG_RUNTIME_DIR) when there is one, else the system's temporary folder.
    explicit CanberraSoundSystem(const QString& scratchFolder = {});
    ~CanberraSoundSystem() override;
    CanberraSoundSystem(const CanberraSoundSystem&) = delete;
    CanberraSoundSystem& operator=(const CanberraSoundSystem&) = delete;

    bool playWave(const QByteArray& wave, quint32 flags) override;
    bool playEvent(const QString& eventName, quint32 flags) override;
    void stop() override;

    // The temporary file of the WAVE image that is playing; empty when there is none.
    QString currentWaveFile() const;
    // How many times a sound was handed to libcanberra; each round of a looped sound counts.
    int soundsStarted() const { return m_soundsStarted; }

    // The freedesktop sound-theme name for a Windows sound event name; empty when unknown.
    static QString themeSoundName(const QString& windowsEventName);

private:
    // What libcanberra is asked to play: a theme sound or a file.
    struct Sound {
        QByteArray eventId;
        QByteArray fileName;
    };

    bool play(const Sound& sound, quint32 flags);
    bool playDefault(quint32 flags);
    int start(const Sound& sound, std::uint32_t id);
    int waitUntilFinished(std::uint32_t id); // libcanberra's outcome
    void reportFinished(std::uint32_t id, int error);
    void finished(std::uint32_t id, int error);
    void releaseCurrent();

    static void onFinished(ca_context* context, std::uint32_t id, int error, void* self);

    QString m_scratchFolder;
    int m_soundsStarted = 0;

    // The sound playing now (id 0: none) and what it needs while it plays.
    std::uint32_t m_currentId = 0;
    bool m_currentLooped = false;
    Sound m_currentSound;
    std::unique_ptr<QTemporaryFile> m_waveFile;

    // A synchronous play waits here for libcanberra's report from its own thread.
    std::mutex m_waitMutex;
    std::condition_variable m_waitCondition;
    std::uint32_t m_waitId = 0;
    bool m_waitDone = false;
    int m_waitError = 0;

    // Receives the end-of-sound reports on the owning thread. Reports come only while this
    // object is registered as alive; reports already queued die with the receiver.
    QObject m_receiver;
};

} // namespace platform
