#include "platform/CanberraSoundSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using platform::CanberraSoundSystem;
using platform::SND_ASYNC;
using platform::SND_LOOP;
using platform::SND_MEMORY;
using platform::SND_NODEFAULT;

namespace {

// A short quiet 16-bit mono PCM WAVE file.
QByteArray quietWave() {
    const quint32 rate = 8000;
    const QByteArray samples(800 * 2, '\0');
    auto le16 = [](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        return QByteArray(b, 2);
    };
    auto le32 = [](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        return QByteArray(b, 4);
    };
    return "RIFF" + le32(quint32(36 + samples.size())) + "WAVEfmt " + le32(16) + le16(1) + le16(1) +
           le32(rate) + le32(rate * 2) + le16(2) + le16(16) + "data" + le32(quint32(samples.size())) +
           samples;
}

QStringList filesIn(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
}

// Chooses the ALSA output that libcanberra plays on for the test's lifetime, so that the
// tests behave alike on every machine (and stay silent on a desk with speakers).
class AudioOutput {
public:
    static QByteArray noDevice() { return "pcm.!default { type hw card 99 }\n"; } // a card that is not there
    static QByteArray silentDevice() { return "pcm.!default { type null }\n"; } // takes sound, plays nothing

    explicit AudioOutput(const QByteArray& alsaConfiguration)
        : m_saved(qgetenv("ALSA_CONFIG_PATH")) {
        QFile config(m_dir.filePath(u"asound.conf"_qs));
        if (!config.open(QIODevice::WriteOnly) || config.write(alsaConfiguration) != alsaConfiguration.size())
            qFatal("cannot write the ALSA configuration");
        qputenv("ALSA_CONFIG_PATH", QFile::encodeName(config.fileName()));
    }
    ~AudioOutput() {
        if (m_saved.isNull())
            qunsetenv("ALSA_CONFIG_PATH");
        else
            qputenv("ALSA_CONFIG_PATH", m_saved);
    }
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

private:
    QTemporaryDir m_dir;
    QByteArray m_saved;
};

} // namespace

// Runs against the real libcanberra and ALSA, once with no audio device at all (the usual
// case on the machines that run the tests) and once with a device that takes the sound.
class TestSoundSystem : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        // libcanberra's ALSA backend, also where a sound server runs; the process's one
        // libcanberra context is made at the first play, after this.
        qputenv("CANBERRA_DRIVER", "alsa");
    }

    void themeNames_data() {
        QTest::addColumn<QString>("windows");
        QTest::addColumn<QString>("theme");
        QTest::newRow("asterisk") << u"SystemAsterisk"_qs << u"dialog-information"_qs;
        QTest::newRow("hand") << u"SystemHand"_qs << u"dialog-error"_qs;
        QTest::newRow("exclamation") << u"SystemExclamation"_qs << u"dialog-warning"_qs;
        QTest::newRow("question") << u"SystemQuestion"_qs << u"dialog-question"_qs;
        QTest::newRow("default") << u".Default"_qs << u"bell"_qs;
        QTest::newRow("mail") << u"MailBeep"_qs << u"message-new-email"_qs;
        QTest::newRow("start") << u"SystemStart"_qs << u"desktop-login"_qs;
        QTest::newRow("exit") << u"SystemExit"_qs << u"desktop-logout"_qs;
        QTest::newRow("minimize") << u"Minimize"_qs << u"window-minimized"_qs;
        QTest::newRow("any letter case") << u"systemQUESTION"_qs << u"dialog-question"_qs;
        QTest::newRow("unknown") << u"NoSuchEvent"_qs << QString();
        QTest::newRow("empty") << QString() << QString();
    }
    void themeNames() {
        QFETCH(QString, windows);
        QFETCH(QString, theme);
        QCOMPARE(CanberraSoundSystem::themeSoundName(windows), theme);
    }

    void flags_data() {
        QTest::addColumn<quint32>("flags");
        QTest::newRow("asynchronous") << (SND_ASYNC | SND_NODEFAULT | SND_MEMORY);
        QTest::newRow("waiting") << (SND_NODEFAULT | SND_MEMORY);
        QTest::newRow("looped") << (SND_ASYNC | SND_LOOP | SND_NODEFAULT | SND_MEMORY);
        QTest::newRow("default allowed") << (SND_ASYNC | SND_MEMORY);
    }

    void waveWithoutDevice_data() { flags_data(); }
    void waveWithoutDevice() {
        QFETCH(quint32, flags);
        AudioOutput output(AudioOutput::noDevice());
        QTemporaryDir scratch;
        CanberraSoundSystem sound(scratch.path());
        QVERIFY(!sound.playWave(quietWave(), flags));
        QVERIFY(sound.currentWaveFile().isEmpty());
        QCOMPARE(filesIn(scratch), QStringList());
        sound.stop();
    }

    void eventWithoutDevice_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint32>("flags");
        QTest::newRow("asterisk, asynchronous") << u"SystemAsterisk"_qs << (SND_ASYNC | SND_NODEFAULT);
        QTest::newRow("default, waiting") << u".Default"_qs << SND_NODEFAULT;
        QTest::newRow("question, looped") << u"SystemQuestion"_qs << (SND_ASYNC | SND_LOOP | SND_NODEFAULT);
        QTest::newRow("unknown, default allowed") << u"NoSuchEvent"_qs << quint32(SND_ASYNC);
    }
    void eventWithoutDevice() {
        QFETCH(QString, name);
        QFETCH(quint32, flags);
        AudioOutput output(AudioOutput::noDevice());
        QTemporaryDir scratch;
        CanberraSoundSystem sound(scratch.path());
        QVERIFY(!sound.playEvent(name, flags));
        sound.stop();
    }

    void asynchronousWaveKeepsItsFileWhilePlaying() {
        AudioOutput output(AudioOutput::silentDevice());
        QTemporaryDir scratch;
        CanberraSoundSystem sound(scratch.path());
        const QByteArray wave = quietWave();
        QVERIFY(sound.playWave(wave, SND_ASYNC | SND_NODEFAULT | SND_MEMORY));

        // The end of the sound is taken in by the event loop, which has not run yet.
        QFile file(sound.currentWaveFile());
        QCOMPARE(QFileInfo(file).absolutePath(), QDir(scratch.path()).absolutePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), wave);
        QCOMPARE(file.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
                 QFile::Permissions());

        QTRY_VERIFY(sound.currentWaveFile().isEmpty());
        QCOMPARE(filesIn(scratch), QStringList());
        QCOMPARE(sound.soundsStarted(), 1);
    }

    void waitingWaveReturnsWhenItHasEnded() {
        AudioOutput output(AudioOutput::silentDevice());
        QTemporaryDir scratch;
        CanberraSoundSystem sound(scratch.path());
        QVERIFY(sound.playWave(quietWave(), SND_NODEFAULT | SND_MEMORY));
        QVERIFY(sound.currentWaveFile().isEmpty());
        QCOMPARE(filesIn(scratch), QStringList());
    }

    void loopedWaveRepeatsUntilStopped() {
        AudioOutput output(AudioOutput::silentDevice());
        QTemporaryDir scratch;
        CanberraSoundSystem sound(scratch.path());
        QVERIFY(sound.playWave(quietWave(), SND_ASYNC | SND_LOOP | SND_NODEFAULT | SND_MEMORY));
        QTRY_VERIFY(sound.soundsStarted() >= 3);
        QVERIFY(!sound.currentWaveFile().isEmpty());
        QCOMPARE(filesIn(scratch).size(), 1);

        sound.stop();
        const int started = sound.soundsStarted();
        QVERIFY(sound.currentWaveFile().isEmpty());
        QCOMPARE(filesIn(scratch), QStringList());
        QCoreApplication::processEvents();
        QCOMPARE(sound.soundsStarted(), started);
    }

    void nextSoundReplacesTheWave() {
        AudioOutput output(AudioOutput::silentDevice());
        QTemporaryDir scratch;
        CanberraSoundSystem sound(scratch.path());
        QVERIFY(sound.playWave(quietWave(), SND_ASYNC | SND_LOOP | SND_NODEFAULT | SND_MEMORY));
        QVERIFY(sound.playEvent(u"SystemAsterisk"_qs, SND_ASYNC | SND_NODEFAULT));
        QCOMPARE(filesIn(scratch), QStringList());
    }

    void destroyedWhilePlayingLeavesNothing() {
        AudioOutput output(AudioOutput::silentDevice());
        QTemporaryDir scratch;
        {
            CanberraSoundSystem sound(scratch.path());
            QVERIFY(sound.playWave(quietWave(), SND_ASYNC | SND_LOOP | SND_NODEFAULT | SND_MEMORY));
        }
        QCOMPARE(filesIn(scratch), QStringList());
    }

    void damagedWave_data() {
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<bool>("played");
        QTest::newRow("no default") << (SND_ASYNC | SND_NODEFAULT | SND_MEMORY) << false;
        QTest::newRow("default instead") << (SND_ASYNC | SND_MEMORY) << true;
    }
    void damagedWave() {
        QFETCH(quint32, flags);
        QFETCH(bool, played);
        AudioOutput output(AudioOutput::silentDevice());
        QTemporaryDir scratch;
        CanberraSoundSystem sound(scratch.path());
        QCOMPARE(sound.playWave("RIFF and nothing more", flags), played);
        QVERIFY(sound.currentWaveFile().isEmpty());
        QCOMPARE(filesIn(scratch), QStringList());
    }

    void namedEvent_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<bool>("played");
        QTest::newRow("asterisk") << u"SystemAsterisk"_qs << (SND_ASYNC | SND_NODEFAULT) << true;
        QTest::newRow("default, waiting") << u".Default"_qs << SND_NODEFAULT << true;
        QTest::newRow("any letter case") << u"mailbeep"_qs << (SND_ASYNC | SND_NODEFAULT) << true;
        QTest::newRow("unknown, default allowed") << u"NoSuchEvent"_qs << quint32(SND_ASYNC) << true;
        QTest::newRow("unknown, no default") << u"NoSuchEvent"_qs << (SND_ASYNC | SND_NODEFAULT) << false;
        QTest::newRow("empty name") << QString() << (SND_ASYNC | SND_NODEFAULT) << false;
        QTest::newRow("empty name, default allowed") << QString() << quint32(SND_ASYNC) << false;
    }
    void namedEvent() {
        QFETCH(QString, name);
        QFETCH(quint32, flags);
        QFETCH(bool, played);
        AudioOutput output(AudioOutput::silentDevice());
        QTemporaryDir scratch;
        CanberraSoundSystem sound(scratch.path());
        QCOMPARE(sound.playEvent(name, flags), played);
        QCOMPARE(sound.soundsStarted(), played ? 1 : 0);
        QVERIFY(sound.currentWaveFile().isEmpty());
    }

    void stopWithNothingPlaying() {
        QTemporaryDir scratch;
        CanberraSoundSystem sound(scratch.path());
        sound.stop();
        QVERIFY(sound.currentWaveFile().isEmpty());
        QCOMPARE(sound.soundsStarted(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSoundSystem)
#include "tst_soundsystem.moc"
