#include "DeviceListFixture.h"

#include "platform/SoundSystem.h"
#include "sound/ReadySound.h"
#include "tools/KelvoMessages.h"

namespace {

const QChar CR(u'\r');

// Counts what the program asks the sound system to play.
class CountingSoundSystem : public platform::SoundSystem {
public:
    bool playWave(const QByteArray&, quint32) override {
        ++played;
        return true;
    }
    bool playEvent(const QString&, quint32) override {
        ++played;
        return true;
    }
    void stop() override {}
    int played = 0;
};

// Answers every message box, running `whileShown` while it is open.
class HookedDialogs : public platform::DialogService {
public:
    platform::DialogButton show(const platform::DialogRequest&) override {
        if (whileShown)
            whileShown();
        return platform::DialogButton::Ok;
    }
    std::function<void()> whileShown;
};

void clickItem(DeviceListFixture& f, int index) {
    f.radioGroup.SetItemIndex(index);
}

} // namespace

class TestRadioGroupClick : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void idleStartsRefresh();
    void freeDeviceIsOpenedAndLocked();
    void heldDeviceQueuesAndRetryKeepsPlace();
    void retryOpensDeviceOnceReleased();
    void readySoundFollowsSetting_data();
    void readySoundFollowsSetting();
    void singleDeviceTakesNoLockAndPlaysNothing();
    void failedOpeningIsRetried();
    void statusPollShowsCurrentStatus();
    void timerWaitsForRunUnderMessageBox();
    void holderKeepsTheLockListTrue_data();
    void holderKeepsTheLockListTrue();
};

void TestRadioGroupClick::idleStartsRefresh() {
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    f.controller->UpdateDeviceList(true); // stored choice missing: "(Idle)" is selected
    QCOMPARE(f.radioGroup.ItemIndex(), 0);
    QVERIFY(f.controller->RefreshTimer()->isActive());
    QVERIFY(!f.controller->StatusTimer()->isActive());
    QVERIFY(!f.controller->RetryTimer()->isActive());
    QVERIFY(!f.deviceSettings.isEnabled());
    QVERIFY(!f.controller->ScannerConnected());
    QCOMPARE(f.controller->RefreshTimer()->interval(), 5000);

    // Choosing a device stops the refresh; choosing "(Idle)" again closes it.
    clickItem(f, 1);
    QVERIFY(f.controller->ScannerConnected());
    QVERIFY(!f.controller->RefreshTimer()->isActive());
    clickItem(f, 0);
    QVERIFY(!f.controller->ScannerConnected());
    QVERIFY(f.controller->RefreshTimer()->isActive());
    QCOMPARE(f.lockRows(1, QStringLiteral("D1")), QStringList{});
    QCOMPARE(ReadSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype")), QStringLiteral("0"));
}

void TestRadioGroupClick::freeDeviceIsOpenedAndLocked() {
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤2¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    f.addStation(kThisComputer, 2, QStringLiteral("D2"), QStringLiteral("WS1"));
    f.addLock(kThisComputer, 2, QStringLiteral("D2"), 0); // left from an earlier choice
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype"), QStringLiteral("-1"));
    f.controller->UpdateDeviceList(true);
    clickItem(f, 1);
    QVERIFY(f.controller->ScannerConnected());
    QVERIFY(f.controller->StatusTimer()->isActive());
    QCOMPARE(f.controller->StatusTimer()->interval(), 1000);
    QVERIFY(f.deviceSettings.isEnabled());
    QCOMPARE(f.scansArmed, 1);
    QCOMPARE(f.radioGroup.ItemText(1), QStringLiteral("Digora - D1: CONNECTED"));
    QCOMPARE(f.lockRows(1, QStringLiteral("D1")), QStringList{QStringLiteral("TESTPC:0")});
    // A user's click first gave up every lock of this computer.
    QCOMPARE(f.lockRows(2, QStringLiteral("D2")), QStringList{});
    QCOMPARE(ReadSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype")), QStringLiteral("1"));
}

void TestRadioGroupClick::heldDeviceQueuesAndRetryKeepsPlace() {
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    f.addStation(QStringLiteral("OTHERPC"), 1, QStringLiteral("D1"), QStringLiteral("WS2"));
    f.addStation(QStringLiteral("THIRDPC"), 1, QStringLiteral("D1"), QStringLiteral("WS3"));
    f.addLock(QStringLiteral("OTHERPC"), 1, QStringLiteral("D1"), 0);
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype"), QStringLiteral("-1"));
    f.controller->UpdateDeviceList(true);
    clickItem(f, 1);
    QVERIFY(!f.controller->ScannerConnected());
    QVERIFY(f.controller->RetryTimer()->isActive());
    QCOMPARE(f.scansArmed, 0);
    QCOMPARE(f.radioGroup.ItemText(1),
             QStringLiteral("Digora - D1: ALREADYOPENED") + CR + QStringLiteral("Connected to - WS2, "));
    QCOMPARE(f.lockRows(1, QStringLiteral("D1")), (QStringList{QStringLiteral("OTHERPC:0"), u"TESTPC:1"_qs}));

    // Another workstation queues behind; a retry keeps this computer's place.
    f.addLock(QStringLiteral("THIRDPC"), 1, QStringLiteral("D1"), 2);
    f.controller->Timer2Timer();
    QVERIFY(f.controller->RetryTimer()->isActive());
    QCOMPARE(f.lockRows(1, QStringLiteral("D1")),
             (QStringList{QStringLiteral("OTHERPC:0"), u"TESTPC:1"_qs, u"THIRDPC:2"_qs}));

    // A user's click gives the place up and queues anew, at the end.
    f.radioGroup.SetItemIndex(0);
    clickItem(f, 1);
    QCOMPARE(f.lockRows(1, QStringLiteral("D1")),
             (QStringList{QStringLiteral("OTHERPC:0"), u"THIRDPC:2"_qs, u"TESTPC:3"_qs}));
}

void TestRadioGroupClick::retryOpensDeviceOnceReleased() {
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    f.addStation(QStringLiteral("OTHERPC"), 1, QStringLiteral("D1"), QStringLiteral("WS2"));
    f.addLock(QStringLiteral("OTHERPC"), 1, QStringLiteral("D1"), 0);
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype"), QStringLiteral("-1"));
    f.controller->UpdateDeviceList(true);
    clickItem(f, 1);
    QVERIFY(f.controller->RetryTimer()->isActive());

    f.removeLocksOf(QStringLiteral("OTHERPC"));
    f.controller->Timer2Timer();
    QVERIFY(f.controller->ScannerConnected());
    QVERIFY(f.controller->StatusTimer()->isActive());
    QVERIFY(!f.controller->RetryTimer()->isActive());
    QCOMPARE(f.lockRows(1, QStringLiteral("D1")), QStringList{QStringLiteral("TESTPC:0")});
    QCOMPARE(f.scansArmed, 1);
}

void TestRadioGroupClick::readySoundFollowsSetting_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("played");
    QTest::newRow("missing") << QString() << 1;
    QTest::newRow("0") << QStringLiteral("0") << 0;
    QTest::newRow("false") << QStringLiteral("false") << 0;
    QTest::newRow("-1") << QStringLiteral("-1") << 1;
    QTest::newRow("1") << QStringLiteral("1") << 1;
    QTest::newRow("True") << QStringLiteral("True") << 1;
}

void TestRadioGroupClick::readySoundFollowsSetting() {
    QFETCH(QString, stored);
    QFETCH(int, played);
    CountingSoundSystem sound;
    const platform::ScopedPort<platform::SoundSystem> soundPort(sound);
    DeviceListFixture f;
    LoadReadySound(f.player);
    f.setConnectTo(u"¤1¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    // A blank value reads as a missing one.
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("PlaySoundWhenScannerIsReady"),
                 stored.isEmpty() ? QStringLiteral(" ") : stored);
    QCOMPARE(ReadSetting(QStringLiteral("XRay"), QStringLiteral("PlaySoundWhenScannerIsReady")),
             stored.isEmpty() ? QStringLiteral("ERROR") : stored);
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype"), QStringLiteral("-1"));
    f.controller->UpdateDeviceList(true);
    QCOMPARE(sound.played, 0);
    clickItem(f, 1);
    QVERIFY(f.controller->ScannerConnected());
    QCOMPARE(sound.played, played);
}

void TestRadioGroupClick::singleDeviceTakesNoLockAndPlaysNothing() {
    CountingSoundSystem sound;
    const platform::ScopedPort<platform::SoundSystem> soundPort(sound);
    DeviceListFixture f;
    f.setConnectTo(u"¤8¤"_qs);
    f.addLock(kThisComputer, 1, QStringLiteral("D1"), 0);
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype"), QStringLiteral("-1"));
    f.controller->UpdateDeviceList(true);
    clickItem(f, 1);
    QVERIFY(f.controller->ScannerConnected());
    QVERIFY(f.controller->StatusTimer()->isActive());
    QCOMPARE(f.radioGroup.ItemText(1), QStringLiteral("Digora Toto: CONNECTED"));
    QCOMPARE(sound.played, 0);
    QCOMPARE(f.scansArmed, 1);
    // The click still gave up this computer's locks, and took none for type 8.
    QCOMPARE(f.lockRows(1, QStringLiteral("D1")), QStringList{});
    QCOMPARE(f.lockRows(8, QString()), QStringList{});
}

void TestRadioGroupClick::failedOpeningIsRetried() {
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype"), QStringLiteral("-1"));
    f.controller->UpdateDeviceList(true);
    const std::unique_ptr<TSimulatedDsd> otherProcess = f.holdDevice(1);
    clickItem(f, 1);
    QVERIFY(!f.controller->ScannerConnected());
    QVERIFY(f.controller->RetryTimer()->isActive());
    QCOMPARE(f.radioGroup.ItemText(1), QStringLiteral("Digora - D1: ALREADYOPENED"));
    QCOMPARE(f.lockRows(1, QStringLiteral("D1")), QStringList{});
}

void TestRadioGroupClick::statusPollShowsCurrentStatus() {
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype"), QStringLiteral("1"));
    f.controller->UpdateDeviceList(true);
    QVERIFY(f.controller->ScannerConnected());
    f.setFault(1, QStringLiteral("GetScannerStatus"), 21);
    f.controller->Timer1Timer();
    QCOMPARE(f.radioGroup.ItemText(1), QStringLiteral("Digora - D1: [21]"));
    f.setFault(1, QStringLiteral("GetScannerStatus"), 12);
    f.controller->Timer1Timer();
    QCOMPARE(f.radioGroup.ItemText(1), QStringLiteral("Digora - D1: PLATEINSERTED"));
}

void TestRadioGroupClick::timerWaitsForRunUnderMessageBox() {
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype"), QStringLiteral("-1"));
    f.controller->UpdateDeviceList(true);
    HookedDialogs dialogs;
    const platform::ScopedPort<platform::DialogService> dialogPort(dialogs);
    QString textWhileShown;
    dialogs.whileShown = [&] {
        // The timers keep firing under a modal box; their handlers must wait for the click.
        f.radioGroup.SetItemText(1, QStringLiteral("untouched"));
        f.controller->Timer1Timer();
        f.controller->Timer3Timer();
        textWhileShown = f.radioGroup.ItemText(1);
    };
    f.onScan = [] { InformationMessage(QStringLiteral("arming failed")); };
    clickItem(f, 1);
    QCOMPARE(textWhileShown, QStringLiteral("untouched"));
    f.controller->Timer1Timer();
    QCOMPARE(f.radioGroup.ItemText(1), QStringLiteral("Digora - D1: CONNECTED"));
}

void TestRadioGroupClick::holderKeepsTheLockListTrue_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("rowsAfter");
    QTest::addColumn<bool>("keepsDevice");
    QTest::newRow("rows lost") << u"lost"_qs << QStringList{u"TESTPC:0"_qs} << true;
    QTest::newRow("another named holder")
        << u"another"_qs << QStringList{u"OTHERPC:0"_qs, u"TESTPC:1"_qs} << false;
    QTest::newRow("unchanged") << u"none"_qs << QStringList{u"TESTPC:0"_qs} << true;
}

// Every five status ticks the holder looks at the lock list: when its row went missing (an
// outage that lost it, a removal) it writes it again; when the list names another holder, it
// closes the device, queues, and tells the user once.
void TestRadioGroupClick::holderKeepsTheLockListTrue() {
    QFETCH(QString, change);
    QFETCH(QStringList, rowsAfter);
    QFETCH(bool, keepsDevice);
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    f.addStation(QStringLiteral("OTHERPC"), 1, QStringLiteral("D1"), QStringLiteral("WS2"));
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype"), QStringLiteral("1"));
    f.controller->UpdateDeviceList(true);
    QVERIFY(f.controller->ScannerConnected());
    QCOMPARE(f.lockRows(1, QStringLiteral("D1")), QStringList{u"TESTPC:0"_qs});

    if (change != u"none"_qs)
        f.removeLocksOf(kThisComputer);
    if (change == u"another"_qs) {
        f.addLock(QStringLiteral("OTHERPC"), 1, QStringLiteral("D1"), 0);
        f.dialogs.expect(
            QStringLiteral("The lock list names another workstation (WS2) as the holder of Digora - D1."));
    }
    for (int tick = 0; tick < 4; ++tick)
        f.controller->Timer1Timer();
    QVERIFY(f.controller->ScannerConnected());
    f.controller->Timer1Timer();
    QCOMPARE(f.lockRows(1, QStringLiteral("D1")), rowsAfter);
    QCOMPARE(f.controller->ScannerConnected(), keepsDevice);
    QCOMPARE(f.simDevice(1).isOpen(), keepsDevice);
    QCOMPARE(f.controller->StatusTimer()->isActive(), keepsDevice);
    QCOMPARE(f.controller->RetryTimer()->isActive(), !keepsDevice);
    QVERIFY(f.dialogs.allAnswered());
    if (!keepsDevice) {
        QCOMPARE(f.radioGroup.ItemText(1),
                 QStringLiteral("Digora - D1: ALREADYOPENED") + CR + QStringLiteral("Connected to - WS2, "));
        // Once the other workstation is done, the retry takes the device back.
        f.removeLocksOf(QStringLiteral("OTHERPC"));
        f.controller->Timer2Timer();
        QVERIFY(f.controller->ScannerConnected());
        QCOMPARE(f.lockRows(1, QStringLiteral("D1")), QStringList{u"TESTPC:0"_qs});
    }
}

QTEST_MAIN(TestRadioGroupClick)
#include "tst_radiogroupclick.moc"
