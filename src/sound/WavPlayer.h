#pragma once

#include "sound/FileStorage.h"

#include <QObject>
#include <QString>

// Which sound a TWavPlayer plays: its stored sound, or one of the system's sound events.
enum class TacWavPlayerSndType {
    stCustom,
    stAsterisk,
    stCloseProgram,
    stCriticalStop,
    stDefaultSound,
    stExclamation,
    stExitWindows,
    stMaximize,
    stMenuCommand,
    stMenuPopup,
    stMinimize,
    stNewMailNotification,
    stOpenProgram,
    stProgramError,
    stQuestion,
    stRestoreDown,
    stRestoreUp,
    stStartWindows,
};

// The system sound event name that a sound type plays; empty for stCustom and for any
// value outside the list.
QString SoundEventName(TacWavPlayerSndType soundType);

// A non-visual player of one sound, owned by its window: either the WAVE image it stores
// (WaveSound) or a system sound event chosen by SoundType. Playing never reports a failure.
class TWavPlayer : public QObject {
    Q_OBJECT
public:
    explicit TWavPlayer(QObject* owner);
    ~TWavPlayer() override;

    // Play without waiting for the sound to end (true after creation).
    bool Asynchronous() const { return m_asynchronous; }
    void setAsynchronous(bool asynchronous) { m_asynchronous = asynchronous; }
    // Repeat until stopped (false after creation); turning it on also makes the player
    // asynchronous, turning it off leaves Asynchronous as it is.
    bool Looped() const { return m_looped; }
    void setLooped(bool looped);
    // stCustom after creation. Choosing a system sound clears the stored sound.
    TacWavPlayerSndType SoundType() const { return m_soundType; }
    void setSoundType(TacWavPlayerSndType soundType);
    // The stored sound; it belongs to the player alone.
    TStoredFile& WaveSound() { return m_waveSound; }
    const TStoredFile& WaveSound() const { return m_waveSound; }

    // Plays the stored sound when SoundType is stCustom and there is one, otherwise the
    // type's sound event. OnBeforePlay and OnAfterPlay fire around it; a failure of the
    // sound system is swallowed. Asynchronous plays return as soon as the sound started.
    virtual void Play();
    // Stops whatever waveform sound is playing.
    virtual void Stop();

Q_SIGNALS:
    void OnBeforePlay(QObject* Sender);
    void OnAfterPlay(QObject* Sender);

private:
    bool m_asynchronous = true;
    bool m_looped = false;
    TacWavPlayerSndType m_soundType = TacWavPlayerSndType::stCustom;
    TStoredFile m_waveSound;
};
