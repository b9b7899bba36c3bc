#include "sound/WavPlayer.h"

#include "platform/SoundSystem.h"

#include <array>
#include <exception>

namespace {

// Sound event names in the order of TacWavPlayerSndType; stCustom has none.
constexpr std::array<const char16_t*, 18> eventNames{
    u"",           u"SystemAsterisk", u"Close",          u"SystemHand",  u".Default",  u"SystemExclamation",
    u"SystemExit", u"Maximize",       u"MenuCommand",    u"MenuPopup",   u"Minimize",  u"MailBeep",
    u"Open",       u"AppGPFault",     u"SystemQuestion", u"RestoreDown", u"RestoreUp", u"SystemStart",
};

} // namespace

QString SoundEventName(TacWavPlayerSndType soundType) {
    const auto index = static_cast<std::size_t>(soundType);
    if (index >= eventNames.size())
        return {};
    return QString::fromUtf16(eventNames[index]);
}

TWavPlayer::TWavPlayer(QObject* owner)
    : QObject(owner) {}

TWavPlayer::~TWavPlayer() {
    // The system may still be playing from this player; it must stop before the sound goes.
    Stop();
}

void TWavPlayer::setLooped(bool looped) {
    m_looped = looped;
    if (looped)
        m_asynchronous = true;
}

void TWavPlayer::setSoundType(TacWavPlayerSndType soundType) {
    if (soundType == m_soundType)
        return;
    m_soundType = soundType;
    if (soundType != TacWavPlayerSndType::stCustom)
        m_waveSound.ClearData();
}

void TWavPlayer::Play() {
    Q_EMIT OnBeforePlay(this);
    quint32 flags = 0;
    if (m_asynchronous || m_looped)
        flags |= platform::SND_ASYNC;
    if (m_looped)
        flags |= platform::SND_LOOP;
    try {
        if (m_soundType == TacWavPlayerSndType::stCustom && !m_waveSound.Data().isEmpty())
            platform::soundSystem().playWave(m_waveSound.Data(),
                                             flags | platform::SND_NODEFAULT | platform::SND_MEMORY);
        else
            platform::soundSystem().playEvent(SoundEventName(m_soundType), flags | platform::SND_NODEFAULT);
    } catch (const std::exception&) {
        // A sound is a courtesy: whatever the sound system could not do is not the user's concern.
    }
    Q_EMIT OnAfterPlay(this);
}

void TWavPlayer::Stop() {
    try {
        platform::soundSystem().stop();
    } catch (const std::exception&) {
        // Nothing to stop is as good as stopped.
    }
}
