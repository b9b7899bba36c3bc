#include "DeviceListFixture.h"

#include "platform/Registry.h"

namespace {

const QChar CR(u'\r');

// Situations of one register device "D1" of type 1 (workstation name WS1 on this computer).
enum class Situation {
    Free,
    HeldByOther,
    HeldByTwo,
    OwnLockButDriverRefuses,
    DriverRefusesNoLocks,
    LockOfUnregisteredComputer,
    CodeWithoutWord,
};

void setNetMode(quint32 mode) {
    platform::registry().setValue(platform::Hive::LocalMachine, kDriverKey,
                                  platform::RegValue::ofDWord(QStringLiteral("NetMode"), mode));
}

std::optional<QString> storedScIp() {
    const std::optional<platform::RegValue> value =
        platform::registry().value(platform::Hive::LocalMachine, kDriverKey, QStringLiteral("ScIP"));
    return value ? std::optional(value->text()) : std::nullopt;
}

} // namespace

class TestDeviceList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void radioGroupSelection();
    void registerDeviceTexts_data();
    void registerDeviceTexts();
    void singleDeviceTexts_data();
    void singleDeviceTexts();
    void typesInConnectToOrder();
    void typeChosenOnlyByWholeNumber_data();
    void typeChosenOnlyByWholeNumber();
    void firstActivationSelection_data();
    void firstActivationSelection();
    void rebuildSelectsStoredIndex_data();
    void rebuildSelectsStoredIndex();
    void labelsStayAlignedAfterSingleDevice();
    void networkAddressWrittenForTypeFourOnly();
    void refreshKeepsSelectedItemAndShowsReleasedDevice();
    void withoutScannerControlOnlyIdle();
};

void TestDeviceList::radioGroupSelection() {
    TRadioGroup group;
    int clicks = 0;
    connect(&group, &TRadioGroup::Click, this, [&] { ++clicks; });
    group.AddItem(QStringLiteral("(Idle)"));
    group.AddItem(QStringLiteral("Digora - D1: OK") + CR + QStringLiteral("Connected to - WS2, "), 1);
    QCOMPARE(group.ItemIndex(), -1);
    QCOMPARE(group.ItemObject(1), 1);
    QCOMPARE(group.Button(1)->text(), QStringLiteral("Digora - D1: OK\nConnected to - WS2, "));

    group.SetItemIndex(1);
    QCOMPARE(clicks, 1);
    group.SetItemIndex(1);
    QCOMPARE(clicks, 1);
    group.SetItemIndex(7);
    QCOMPARE(group.ItemIndex(), 1);
    QCOMPARE(clicks, 1);
    group.Button(0)->click();
    QCOMPARE(group.ItemIndex(), 0);
    QCOMPARE(clicks, 2);
    group.Button(0)->click();
    QCOMPARE(clicks, 2);

    group.Clear();
    QCOMPARE(group.Count(), 0);
    QCOMPARE(group.ItemIndex(), -1);
}

void TestDeviceList::registerDeviceTexts_data() {
    QTest::addColumn<Situation>("situation");
    QTest::addColumn<QString>("expected");
    QTest::newRow("free device, probe opened it")
        << Situation::Free << QStringLiteral("Digora - D1: CONNECTED");
    QTest::newRow("held by another workstation")
        << Situation::HeldByOther
        << QStringLiteral("Digora - D1: ALREADYOPENED") + CR + u"Connected to - WS2, "_qs;
    QTest::newRow("held, one waiting")
        << Situation::HeldByTwo
        << QStringLiteral("Digora - D1: ALREADYOPENED") + CR + u"Connected to - WS2, WS3, "_qs;
    QTest::newRow("probe failed, holder found")
        << Situation::OwnLockButDriverRefuses
        << QStringLiteral("Digora - D1: ALREADYOPENED") + CR + u"Connected to - WS1, "_qs;
    QTest::newRow("probe failed, no holder")
        << Situation::DriverRefusesNoLocks << QStringLiteral("Digora - D1: ALREADYOPENED");
    QTest::newRow("lock of an unregistered computer counts as free")
        << Situation::LockOfUnregisteredComputer << QStringLiteral("Digora - D1: CONNECTED");
    QTest::newRow("code without a word") << Situation::CodeWithoutWord << QStringLiteral("Digora - D1: [21]");
}

void TestDeviceList::registerDeviceTexts() {
    QFETCH(Situation, situation);
    QFETCH(QString, expected);
    DeviceListFixture f;
    QVERIFY(f.connected);
    f.setConnectTo(u"¤1¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    f.addStation(QStringLiteral("OTHERPC"), 1, QStringLiteral("D1"), QStringLiteral("WS2"));
    f.addStation(QStringLiteral("THIRDPC"), 1, QStringLiteral("D1"), QStringLiteral("WS3"));
    std::unique_ptr<TSimulatedDsd> otherProcess;
    switch (situation) {
    case Situation::Free:
        break;
    case Situation::HeldByOther:
        f.addLock(QStringLiteral("OTHERPC"), 1, QStringLiteral("D1"), 0);
        break;
    case Situation::HeldByTwo:
        f.addLock(QStringLiteral("OTHERPC"), 1, QStringLiteral("D1"), 0);
        f.addLock(QStringLiteral("THIRDPC"), 1, QStringLiteral("D1"), 1);
        break;
    case Situation::OwnLockButDriverRefuses:
        f.addLock(kThisComputer, 1, QStringLiteral("D1"), 0);
        otherProcess = f.holdDevice(1);
        break;
    case Situation::DriverRefusesNoLocks:
        otherProcess = f.holdDevice(1);
        break;
    case Situation::LockOfUnregisteredComputer:
        f.addLock(QStringLiteral("ELSEPC"), 1, QStringLiteral("D1"), 0);
        break;
    case Situation::CodeWithoutWord:
        f.setFault(1, QStringLiteral("OpenScanner"), 21);
        break;
    }
    // No stored choice to select, so no click changes the locks after the rebuild.
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype"), QStringLiteral("-1"));
    f.controller->UpdateDeviceList(true);
    QCOMPARE(f.itemTexts(), (QStringList{QStringLiteral("(Idle)"), expected}));
    QCOMPARE(f.controller->ScannerLabels(), QStringList{QStringLiteral("D1")});
    QCOMPARE(f.radioGroup.ItemObject(1), 1);
    // A held device is not probed, so its workstation name is not taken.
    const bool probed = situation != Situation::HeldByOther && situation != Situation::HeldByTwo;
    QCOMPARE(f.controller->gstationID(), probed ? QStringLiteral("WS1") : QString());
    QVERIFY(!f.controller->Updating());
}

void TestDeviceList::singleDeviceTexts_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("expected");
    QTest::newRow("opened") << 0 << QStringLiteral("Digora Toto: CONNECTED");
    QTest::newRow("failed") << 8 << QStringLiteral("Digora Toto: DISCONNECTED");
    QTest::newRow("code 17") << 17 << QStringLiteral("Digora Toto: 17");
}

void TestDeviceList::singleDeviceTexts() {
    QFETCH(int, fault);
    QFETCH(QString, expected);
    DeviceListFixture f;
    f.setConnectTo(u"¤8¤"_qs);
    if (fault != 0)
        f.setFault(8, QStringLiteral("OpenScanner"), fault);
    f.controller->UpdateDeviceList(true);
    QCOMPARE(f.itemTexts(), (QStringList{QStringLiteral("(Idle)"), expected}));
    QCOMPARE(f.radioGroup.ItemObject(1), kSingleDeviceType);
    QCOMPARE(f.controller->ScannerLabels(), QStringList{QString()});
}

void TestDeviceList::typesInConnectToOrder() {
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤2¤4¤"_qs);
    // Registered in another order than the list shows them; another computer's rows are not listed.
    f.addStation(kThisComputer, 4, QStringLiteral("OPT"), QStringLiteral("WS1"));
    f.addStation(kThisComputer, 2, QStringLiteral("PCT"), QStringLiteral("WS1"));
    f.addStation(kThisComputer, 1, QStringLiteral("DIG"), QStringLiteral("WS1"));
    f.addStation(QStringLiteral("OTHERPC"), 1, QStringLiteral("FAR"), QStringLiteral("WS2"));
    f.controller->UpdateDeviceList(true);
    QCOMPARE(f.itemTexts(), (QStringList{QStringLiteral("(Idle)"), QStringLiteral("Digora - DIG: CONNECTED"),
                                         QStringLiteral("Digora PCT - PCT: CONNECTED"),
                                         QStringLiteral("Digora OPTIME - OPT: CONNECTED")}));
    QCOMPARE(f.controller->ScannerLabels(),
             (QStringList{QStringLiteral("DIG"), QStringLiteral("PCT"), QStringLiteral("OPT")}));
    QCOMPARE(f.radioGroup.ItemObject(3), 4);
}

void TestDeviceList::typeChosenOnlyByWholeNumber_data() {
    QTest::addColumn<QString>("connectTo");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("chosen");
    QTest::newRow("11 alone does not choose 1") << u"¤11¤"_qs << 1 << false;
    QTest::newRow("11 alone chooses 11") << u"¤11¤"_qs << 11 << true;
    QTest::newRow("1 alone does not choose 11") << u"¤1¤"_qs << 11 << false;
    QTest::newRow("middle of a list") << u"¤1¤2¤4¤"_qs << 2 << true;
    QTest::newRow("missing setting") << QStringLiteral("ERROR") << 1 << false;
    QTest::newRow("nothing ticked") << u"¤"_qs << 1 << false;
}

void TestDeviceList::typeChosenOnlyByWholeNumber() {
    QFETCH(QString, connectTo);
    QFETCH(int, type);
    QFETCH(bool, chosen);
    QCOMPARE(DeviceTypeChosen(connectTo, type), chosen);
}

void TestDeviceList::firstActivationSelection_data() {
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<int>("selected");
    QTest::newRow("no device") << QStringList{} << 0;
    QTest::newRow("one device") << QStringList{QStringLiteral("D1")} << 1;
    QTest::newRow("two devices") << QStringList{QStringLiteral("D1"), QStringLiteral("D2")} << 0;
}

void TestDeviceList::firstActivationSelection() {
    QFETCH(QStringList, labels);
    QFETCH(int, selected);
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤"_qs);
    for (const QString& label : labels)
        f.addStation(kThisComputer, 1, label, QStringLiteral("WS1"));
    f.marker = 0;
    f.controller->UpdateDeviceList(true);
    QCOMPARE(f.radioGroup.ItemIndex(), selected);
    // The selection counts as a click: the single device is connected at once.
    QCOMPARE(f.controller->ScannerConnected(), selected == 1);
    QCOMPARE(f.scansArmed, selected == 1 ? 1 : 0);
    QCOMPARE(ReadSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype")), QString::number(selected));
}

void TestDeviceList::rebuildSelectsStoredIndex_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("selected");
    QTest::newRow("stored index") << QStringLiteral("2") << 2;
    QTest::newRow("beyond the last item") << QStringLiteral("9") << 2;
    QTest::newRow("not a number") << QStringLiteral("two") << 0;
    QTest::newRow("below zero") << QStringLiteral("-1") << -1;
}

void TestDeviceList::rebuildSelectsStoredIndex() {
    QFETCH(QString, stored);
    QFETCH(int, selected);
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤2¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    f.addStation(kThisComputer, 2, QStringLiteral("D2"), QStringLiteral("WS1"));
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype"), stored);
    f.marker = 1;
    f.controller->UpdateDeviceList(true);
    QCOMPARE(f.radioGroup.ItemIndex(), selected);
    QCOMPARE(f.controller->ScannerConnected(), selected > 0);
}

void TestDeviceList::labelsStayAlignedAfterSingleDevice() {
    DeviceListFixture f;
    WriteSetting(QStringLiteral("DigoraDevices"), QStringLiteral("9"), QStringLiteral("Digora Nine"));
    f.setConnectTo(u"¤8¤9¤"_qs);
    f.execute(
        QStringLiteral("INSERT INTO XRAYWORKSTATIONS (COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, STATIONID) "
                       "VALUES ('TESTPC', 'Digora Nine', 'N1', 'WS1')"),
        {});
    f.controller->UpdateDeviceList(true);
    QCOMPARE(f.radioGroup.Count(), 3);
    QCOMPARE(f.controller->ScannerLabels(), (QStringList{QString(), QStringLiteral("N1")}));
    // The simulated driver has no device of type 9.
    QCOMPARE(f.radioGroup.ItemText(2), QStringLiteral("Digora Nine - N1: DISCONNECTED"));
}

void TestDeviceList::networkAddressWrittenForTypeFourOnly() {
    DeviceListFixture f;
    setNetMode(1);
    f.setConnectTo(u"¤1¤4¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"), QStringLiteral("192.0.2.1"));
    f.addStation(kThisComputer, 4, QStringLiteral("OPT"), QStringLiteral("WS1"), QStringLiteral("192.0.2.4"));
    f.controller->UpdateDeviceList(true);
    QCOMPARE(storedScIp(), std::optional(QStringLiteral("192.0.2.4")));
    QCOMPARE(f.radioGroup.ItemText(2), QStringLiteral("Digora OPTIME - OPT: CONNECTED"));

    // A refresh probes without pointing the driver anywhere.
    platform::registry().deleteValue(platform::Hive::LocalMachine, kDriverKey, QStringLiteral("ScIP"));
    f.controller->UpdateDeviceList(false);
    QCOMPARE(storedScIp(), std::nullopt);
    QCOMPARE(f.radioGroup.ItemText(2), QStringLiteral("Digora OPTIME - OPT: NOIPADDRESS"));

    // Outside network mode nothing is written.
    setNetMode(0);
    f.controller->UpdateDeviceList(true);
    QCOMPARE(storedScIp(), std::nullopt);
}

void TestDeviceList::refreshKeepsSelectedItemAndShowsReleasedDevice() {
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤2¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    f.addStation(kThisComputer, 2, QStringLiteral("D2"), QStringLiteral("WS1"));
    f.addStation(QStringLiteral("OTHERPC"), 2, QStringLiteral("D2"), QStringLiteral("WS2"));
    f.addLock(QStringLiteral("OTHERPC"), 2, QStringLiteral("D2"), 0);
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype"), QStringLiteral("1"));
    f.controller->UpdateDeviceList(true);
    QVERIFY(f.controller->ScannerConnected());
    QCOMPARE(f.radioGroup.ItemText(2),
             QStringLiteral("Digora PCT - D2: ALREADYOPENED") + CR + QStringLiteral("Connected to - WS2, "));

    f.radioGroup.SetItemText(1, QStringLiteral("as the status poll left it"));
    f.removeLocksOf(QStringLiteral("OTHERPC"));
    f.controller->UpdateDeviceList(false);
    QCOMPARE(f.radioGroup.ItemText(1), QStringLiteral("as the status poll left it"));
    QCOMPARE(f.radioGroup.ItemText(2), QStringLiteral("Digora PCT - D2: CONNECTED"));
    QCOMPARE(f.radioGroup.ItemIndex(), 1);
}

void TestDeviceList::withoutScannerControlOnlyIdle() {
    DeviceListFixture f;
    f.setConnectTo(u"¤1¤8¤"_qs);
    f.addStation(kThisComputer, 1, QStringLiteral("D1"), QStringLiteral("WS1"));
    f.controller->SetScanner(nullptr);
    f.marker = 0;
    f.controller->UpdateDeviceList(true);
    QCOMPARE(f.itemTexts(), QStringList{QStringLiteral("(Idle)")});
    QCOMPARE(f.radioGroup.ItemIndex(), -1);
    QVERIFY(f.controller->Updating());
    f.radioGroup.SetItemIndex(0);
    QCOMPARE(ReadSetting(QStringLiteral("XRay"), QStringLiteral("Imagetype")), QStringLiteral("ERROR"));
    QVERIFY(!f.controller->RefreshTimer()->isActive());
}

QTEST_MAIN(TestDeviceList)
#include "tst_devicelist.moc"
