#include "platform/SoundSystem.h"
#include "sound/ReadySound.h"
#include "sound/WavPlayer.h"

#include <QtTest>

#include <stdexcept>

using platform::SND_ASYNC;
using platform::SND_LOOP;
using platform::SND_MEMORY;
using platform::SND_NODEFAULT;

namespace {

// Writes down every request instead of making a sound; can be told to fail.
class RecordingSoundSystem : public platform::SoundSystem {
public:
    enum class Failure { None, ReturnFalse, Throw };

    bool playWave(const QByteArray& wave, quint32 flags) override {
        log << u"wave"_qs;
        lastWave = wave;
        lastFlags = flags;
        return answer();
    }
    bool playEvent(const QString& eventName, quint32 flags) override {
        log << u"event"_qs;
        lastEvent = eventName;
        lastFlags = flags;
        return answer();
    }
    void stop() override {
        log << u"stop"_qs;
        if (failure == Failure::Throw)
            throw std::runtime_error("no sound");
    }

    Failure failure = Failure::None;
    QStringList log;
    QByteArray lastWave;
    QString lastEvent;
    quint32 lastFlags = 0xffff;

private:
    bool answer() {
        if (failure == Failure::Throw)
            throw std::runtime_error("no sound");
        return failure == Failure::None;
    }
};

const QByteArray someWave("RIFF\x04\x00\x00\x00WAVE", 12);

} // namespace

Q_DECLARE_METATYPE(TacWavPlayerSndType)

class TestWavPlayer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void defaults() {
        TWavPlayer player(nullptr);
        QVERIFY(player.Asynchronous());
        QVERIFY(!player.Looped());
        QCOMPARE(player.SoundType(), TacWavPlayerSndType::stCustom);
        QVERIFY(player.WaveSound().FileName().isEmpty());
        QCOMPARE(player.WaveSound().Size(), 0u);
    }

    void playFlags_data() {
        QTest::addColumn<bool>("asynchronous");
        QTest::addColumn<bool>("looped");
        QTest::addColumn<TacWavPlayerSndType>("soundType");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<quint32>("flags");
        using enum TacWavPlayerSndType;
        QTest::newRow("stored, asynchronous")
            << true << false << stCustom << u"wave"_qs << (SND_ASYNC | SND_NODEFAULT | SND_MEMORY);
        QTest::newRow("stored, waiting")
            << false << false << stCustom << u"wave"_qs << (SND_NODEFAULT | SND_MEMORY);
        QTest::newRow("stored, looped")
            << true << true << stCustom << u"wave"_qs << (SND_ASYNC | SND_LOOP | SND_NODEFAULT | SND_MEMORY);
        QTest::newRow("event, asynchronous")
            << true << false << stQuestion << u"event"_qs << (SND_ASYNC | SND_NODEFAULT);
        QTest::newRow("event, waiting") << false << false << stAsterisk << u"event"_qs << SND_NODEFAULT;
        QTest::newRow("event, looped")
            << true << true << stDefaultSound << u"event"_qs << (SND_ASYNC | SND_LOOP | SND_NODEFAULT);
    }
    void playFlags() {
        QFETCH(bool, asynchronous);
        QFETCH(bool, looped);
        QFETCH(TacWavPlayerSndType, soundType);
        QFETCH(QString, kind);
        QFETCH(quint32, flags);
        RecordingSoundSystem sound;
        platform::ScopedPort<platform::SoundSystem> port(sound);
        TWavPlayer player(nullptr);
        player.setSoundType(soundType);
        player.WaveSound().setData(someWave);
        player.setLooped(looped);
        player.setAsynchronous(asynchronous);

        player.Play();
        QCOMPARE(sound.log, QStringList{kind});
        QCOMPARE(sound.lastFlags, flags);
        if (kind == u"wave"_qs)
            QCOMPARE(sound.lastWave, someWave);
        else
            QCOMPARE(sound.lastEvent, SoundEventName(soundType));
    }

    void loopedWinsOverNotAsynchronous() {
        RecordingSoundSystem sound;
        platform::ScopedPort<platform::SoundSystem> port(sound);
        TWavPlayer player(nullptr);
        player.setLooped(true);
        player.setAsynchronous(false);
        player.Play();
        QCOMPARE(sound.lastFlags, SND_ASYNC | SND_LOOP | SND_NODEFAULT);
    }

    void customWithoutDataPlaysEmptyEvent() {
        RecordingSoundSystem sound;
        platform::ScopedPort<platform::SoundSystem> port(sound);
        TWavPlayer player(nullptr);
        player.WaveSound().setFileName("Scanner_Ready.wav");
        QList<QObject*> senders;
        connect(&player, &TWavPlayer::OnBeforePlay, this, [&](QObject* sender) {
            sound.log << u"before"_qs;
            senders << sender;
        });
        connect(&player, &TWavPlayer::OnAfterPlay, this, [&](QObject* sender) {
            sound.log << u"after"_qs;
            senders << sender;
        });

        player.Play();
        QCOMPARE(sound.log, (QStringList{u"before"_qs, u"event"_qs, u"after"_qs}));
        QCOMPARE(sound.lastEvent, QString());
        QCOMPARE(sound.lastFlags, SND_ASYNC | SND_NODEFAULT);
        QCOMPARE(senders, (QList<QObject*>{&player, &player}));
    }

    void systemSoundClearsStoredSound() {
        RecordingSoundSystem sound;
        platform::ScopedPort<platform::SoundSystem> port(sound);
        TWavPlayer player(nullptr);
        player.WaveSound().setFileName("Scanner_Ready.wav");
        player.WaveSound().setData(someWave);

        player.setSoundType(TacWavPlayerSndType::stQuestion);
        player.setSoundType(TacWavPlayerSndType::stCustom);
        QVERIFY(player.WaveSound().FileName().isEmpty());
        QCOMPARE(player.WaveSound().Size(), 0u);
        player.Play();
        QCOMPARE(sound.log, QStringList{u"event"_qs});
        QCOMPARE(sound.lastEvent, QString());
    }

    void sameSoundTypeChangesNothing_data() {
        QTest::addColumn<TacWavPlayerSndType>("soundType");
        QTest::newRow("custom") << TacWavPlayerSndType::stCustom;
        QTest::newRow("question") << TacWavPlayerSndType::stQuestion;
    }
    void sameSoundTypeChangesNothing() {
        QFETCH(TacWavPlayerSndType, soundType);
        TWavPlayer player(nullptr);
        player.setSoundType(soundType);
        player.WaveSound().setFileName("kept.wav");
        player.WaveSound().setData(someWave);
        player.setSoundType(soundType);
        QCOMPARE(player.WaveSound().FileName(), QByteArray("kept.wav"));
        QCOMPARE(player.WaveSound().Data(), someWave);
    }

    void loopedOffKeepsAsynchronous() {
        RecordingSoundSystem sound;
        platform::ScopedPort<platform::SoundSystem> port(sound);
        TWavPlayer player(nullptr);
        player.setAsynchronous(false);
        player.setLooped(true);
        QVERIFY(player.Asynchronous());
        player.setLooped(false);
        QVERIFY(player.Asynchronous());
        player.Play();
        QCOMPARE(sound.lastFlags, SND_ASYNC | SND_NODEFAULT);
    }

    void eventNames_data() {
        QTest::addColumn<int>("soundType");
        QTest::addColumn<QString>("name");
        QTest::newRow("stCustom") << 0 << QString();
        QTest::newRow("stAsterisk") << 1 << u"SystemAsterisk"_qs;
        QTest::newRow("stCloseProgram") << 2 << u"Close"_qs;
        QTest::newRow("stCriticalStop") << 3 << u"SystemHand"_qs;
        QTest::newRow("stDefaultSound") << 4 << u".Default"_qs;
        QTest::newRow("stExclamation") << 5 << u"SystemExclamation"_qs;
        QTest::newRow("stExitWindows") << 6 << u"SystemExit"_qs;
        QTest::newRow("stMaximize") << 7 << u"Maximize"_qs;
        QTest::newRow("stMenuCommand") << 8 << u"MenuCommand"_qs;
        QTest::newRow("stMenuPopup") << 9 << u"MenuPopup"_qs;
        QTest::newRow("stMinimize") << 10 << u"Minimize"_qs;
        QTest::newRow("stNewMailNotification") << 11 << u"MailBeep"_qs;
        QTest::newRow("stOpenProgram") << 12 << u"Open"_qs;
        QTest::newRow("stProgramError") << 13 << u"AppGPFault"_qs;
        QTest::newRow("stQuestion") << 14 << u"SystemQuestion"_qs;
        QTest::newRow("stRestoreDown") << 15 << u"RestoreDown"_qs;
        QTest::newRow("stRestoreUp") << 16 << u"RestoreUp"_qs;
        QTest::newRow("stStartWindows") << 17 << u"SystemStart"_qs;
        QTest::newRow("beyond the list") << 18 << QString();
    }
    void eventNames() {
        QFETCH(int, soundType);
        QFETCH(QString, name);
        const auto type = static_cast<TacWavPlayerSndType>(soundType);
        QCOMPARE(SoundEventName(type), name);

        RecordingSoundSystem sound;
        platform::ScopedPort<platform::SoundSystem> port(sound);
        TWavPlayer player(nullptr);
        player.setSoundType(type);
        player.Play();
        QCOMPARE(sound.log, QStringList{u"event"_qs});
        QCOMPARE(sound.lastEvent, name);
    }

    void failuresAreSwallowed_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<bool>("stored");
        QTest::newRow("refused wave") << int(RecordingSoundSystem::Failure::ReturnFalse) << true;
        QTest::newRow("refused event") << int(RecordingSoundSystem::Failure::ReturnFalse) << false;
        QTest::newRow("thrown by wave") << int(RecordingSoundSystem::Failure::Throw) << true;
        QTest::newRow("thrown by event") << int(RecordingSoundSystem::Failure::Throw) << false;
    }
    void failuresAreSwallowed() {
        QFETCH(int, failure);
        QFETCH(bool, stored);
        RecordingSoundSystem sound;
        sound.failure = static_cast<RecordingSoundSystem::Failure>(failure);
        platform::ScopedPort<platform::SoundSystem> port(sound);
        {
            TWavPlayer player(nullptr);
            if (stored)
                player.WaveSound().setData(someWave);
            QSignalSpy after(&player, &TWavPlayer::OnAfterPlay);
            player.Play();
            QCOMPARE(after.count(), 1);
            player.Stop();
        }
        QCOMPARE(sound.log, (QStringList{stored ? u"wave"_qs : u"event"_qs, u"stop"_qs, u"stop"_qs}));
    }

    void destroyedWithItsWindowStopsFirst() {
        RecordingSoundSystem sound;
        platform::ScopedPort<platform::SoundSystem> port(sound);
        auto window = std::make_unique<QObject>();
        auto* player = new TWavPlayer(window.get());
        player->setLooped(true);
        player->WaveSound().setData(someWave);
        player->Play();
        window.reset();
        QCOMPARE(sound.log, (QStringList{u"wave"_qs, u"stop"_qs}));
    }

    void readySound() {
        RecordingSoundSystem sound;
        platform::ScopedPort<platform::SoundSystem> port(sound);
        TWavPlayer player(nullptr);
        player.setSoundType(TacWavPlayerSndType::stQuestion);
        player.setLooped(true);
        player.setAsynchronous(false);

        LoadReadySound(player);
        QVERIFY(player.Asynchronous());
        QVERIFY(!player.Looped());
        QCOMPARE(player.SoundType(), TacWavPlayerSndType::stCustom);
        QCOMPARE(player.WaveSound().FileName(), QByteArray("Scanner_Ready.wav"));
        QVERIFY(player.WaveSound().Data().startsWith("RIFF"));

        player.Play();
        QCOMPARE(sound.log, QStringList{u"wave"_qs});
        QCOMPARE(sound.lastWave, player.WaveSound().Data());
        QCOMPARE(sound.lastFlags, SND_ASYNC | SND_NODEFAULT | SND_MEMORY);
    }
};

QTEST_GUILESS_MAIN(TestWavPlayer)
#include "tst_wavplayer.moc"
