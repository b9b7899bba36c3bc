// The device selection dialog and the table of device types it keeps.

#include "settings/USelectDevices.h"
#include "support/DesignerNames.h"
#include "support/TestEnvironment.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kSection = QStringLiteral("DigoraDevices");
const QString kConnectTo = QStringLiteral("ConnectTo");

QString ticks(const QList<int>& numbers) {
    QString text = QStringLiteral("\u00A4");
    for (int n : numbers)
        text += QString::number(n) + QStringLiteral("\u00A4");
    return text;
}

QString deviceSetting(const QString& key) {
    return ReadSetting(kSection, key);
}

// The list as "number:name" with the ticked numbers apart.
QStringList listed(const TfrmSelectDevices& dialog) {
    QStringList items;
    for (int i = 0; i < dialog.DeviceTypeList->count(); ++i) {
        const QListWidgetItem* item = dialog.DeviceTypeList->item(i);
        items.append(QStringLiteral("%1:%2").arg(item->data(Qt::UserRole).toInt()).arg(item->text()));
    }
    return items;
}

QList<int> ticked(const TfrmSelectDevices& dialog) {
    QList<int> numbers;
    for (int i = 0; i < dialog.DeviceTypeList->count(); ++i) {
        if (dialog.DeviceTypeList->item(i)->checkState() == Qt::Checked)
            numbers.append(dialog.DeviceTypeList->item(i)->data(Qt::UserRole).toInt());
    }
    return numbers;
}

void tickOnly(TfrmSelectDevices& dialog, const QList<int>& numbers) {
    for (int i = 0; i < dialog.DeviceTypeList->count(); ++i) {
        QListWidgetItem* item = dialog.DeviceTypeList->item(i);
        item->setCheckState(numbers.contains(item->data(Qt::UserRole).toInt()) ? Qt::Checked : Qt::Unchecked);
    }
}

void storeAllNames() {
    for (int n = 1; n <= 8; ++n)
        WriteSetting(kSection, QString::number(n), DefaultDeviceName(n));
}

const QStringList kAllTypes{QStringLiteral("1:Digora"),     QStringLiteral("2:Digora PCT"),
                            QStringLiteral("3:Cranex PDC"), QStringLiteral("4:Digora OPTIME"),
                            QStringLiteral("5:Cranex D"),   QStringLiteral("6:Sopix"),
                            QStringLiteral("7:Cranex TT"),  QStringLiteral("8:Digora Toto")};

} // namespace

class TestSelectDevices : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_env.reset(); }

    void layout();
    void firstRunShowsDefaultAndStoresNames();
    void okStoresTicked_data();
    void okStoresTicked();
    void listEndsAtFirstMissingName();
    void typeEightIsAddedToOlderInstallation();
    void changedNameIsShown();
    void cancelKeepsConnectTo();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void TestSelectDevices::init() {
    m_env = std::make_unique<TestEnvironment>();
    InitApplicationEnvironment({QStringLiteral("ravlek")});
}

void TestSelectDevices::layout() {
    TfrmSelectDevices dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Select devices to connect to"));
    QCOMPARE(dialog.size(), QSize(230, 278));
    QCOMPARE(dialog.DevicesGroup->title(), QStringLiteral("Xray Devices"));
    QCOMPARE(dialog.OkButton->text(), QStringLiteral("OK"));
    QVERIFY(dialog.OkButton->isDefault());
    QCOMPARE(dialog.CancelButton->text(), QStringLiteral("Avbryt"));
    QVERIFY(dialog.DeviceTypeList->item(0)->flags() & Qt::ItemIsUserCheckable);
    verifyDesignerNames(dialog, {{"GroupBox1", dialog.DevicesGroup},
                                 {"CheckListBox1", dialog.DeviceTypeList},
                                 {"BitBtn1", dialog.OkButton},
                                 {"BitBtn2", dialog.CancelButton}});
}

void TestSelectDevices::firstRunShowsDefaultAndStoresNames() {
    TfrmSelectDevices dialog;

    QCOMPARE(listed(dialog), kAllTypes);
    QCOMPARE(ticked(dialog), QList<int>({1, 2, 4}));
    for (int n = 1; n <= 8; ++n)
        QCOMPARE(deviceSetting(QString::number(n)), DefaultDeviceName(n));
    // The default is shown, not stored, until the user confirms.
    QCOMPARE(deviceSetting(kConnectTo), kMissingSetting);

    dialog.show();
    dialog.OkButton->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(deviceSetting(kConnectTo), QStringLiteral("\u00A4"
                                                       "1\u00A4"
                                                       "2\u00A4"
                                                       "4\u00A4"));
}

void TestSelectDevices::okStoresTicked_data() {
    QTest::addColumn<QList<int>>("numbers");
    QTest::newRow("1, 2 and 4") << QList<int>{1, 2, 4};
    QTest::newRow("8 alone") << QList<int>{8};
    QTest::newRow("nothing") << QList<int>{};
    QTest::newRow("all") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8};
}

void TestSelectDevices::okStoresTicked() {
    QFETCH(QList<int>, numbers);
    storeAllNames();
    WriteSetting(kSection, kConnectTo, ticks({3}));
    TfrmSelectDevices dialog;
    QCOMPARE(ticked(dialog), QList<int>{3});
    tickOnly(dialog, numbers);

    dialog.BitBtn1Click();

    QCOMPARE(deviceSetting(kConnectTo), ticks(numbers));
    TfrmSelectDevices reopened;
    QCOMPARE(ticked(reopened), numbers);
}

void TestSelectDevices::listEndsAtFirstMissingName() {
    for (int n : {1, 2, 3, 5})
        WriteSetting(kSection, QString::number(n), DefaultDeviceName(n));
    WriteSetting(kSection, kConnectTo, ticks({1, 5}));
    TfrmSelectDevices dialog;

    QCOMPARE(listed(dialog), kAllTypes.mid(0, 3));
    QCOMPARE(ticked(dialog), QList<int>{1});
    dialog.BitBtn1Click();
    QCOMPARE(deviceSetting(kConnectTo), ticks({1}));
}

void TestSelectDevices::typeEightIsAddedToOlderInstallation() {
    for (int n = 1; n <= 7; ++n)
        WriteSetting(kSection, QString::number(n), DefaultDeviceName(n));
    WriteSetting(kSection, kConnectTo, ticks({2}));
    TfrmSelectDevices dialog;

    QCOMPARE(deviceSetting(QStringLiteral("8")), QStringLiteral("Digora Toto"));
    QCOMPARE(listed(dialog), kAllTypes);
    QCOMPARE(ticked(dialog), QList<int>{2});
    QCOMPARE(deviceSetting(kConnectTo), ticks({2}));
}

void TestSelectDevices::changedNameIsShown() {
    storeAllNames();
    WriteSetting(kSection, QStringLiteral("4"), QStringLiteral("Optime room 2"));
    WriteSetting(kSection, kConnectTo, ticks({4, 12}));
    TfrmSelectDevices dialog;

    QCOMPARE(listed(dialog).at(3), QStringLiteral("4:Optime room 2"));
    QCOMPARE(ticked(dialog), QList<int>{4});
    QCOMPARE(deviceSetting(QStringLiteral("4")), QStringLiteral("Optime room 2"));
}

void TestSelectDevices::cancelKeepsConnectTo() {
    storeAllNames();
    WriteSetting(kSection, kConnectTo, ticks({2}));
    TfrmSelectDevices dialog;
    tickOnly(dialog, {1, 8});
    dialog.show();

    QCOMPARE(ticked(dialog), QList<int>({1, 8}));
    dialog.CancelButton->click();

    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(deviceSetting(kConnectTo), ticks({2}));
}

QTEST_MAIN(TestSelectDevices)
#include "tst_selectdevices.moc"
