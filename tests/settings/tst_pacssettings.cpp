// The PACS window of the settings: the four settings shown and stored, unusable ones refused
// before they are stored, "Test connection" against a real PACS, and the settings window's
// "PACS..." button that opens it.

#include "SettingsFixture.h"

#include "settings/UPacsSettings.h"
#include "support/ModalWindows.h"
#include "support/OrthancServer.h"
#include "support/ScriptedDialogs.h"
#include "tools/KelvoSettings.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

using namespace settingsfixture;

namespace {

const QString kXRay = QStringLiteral("XRay");

} // namespace

class TestPacsSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void defaultsWhenNothingIsStored();
    void storedSettingsAreShownAndOkStoresThem();
    void unusableSettingsAreNotStored_data();
    void unusableSettingsAreNotStored();
    void emptyHostSwitchesThePacsOff();
    void testConnection_data();
    void testConnection();
    void settingsWindowOpensIt();
};

void TestPacsSettings::defaultsWhenNothingIsStored() {
    Installation installation;
    TfrmPacsSettings dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("PACS"));
    QCOMPARE(dialog.edtHost->text(), QString());
    QCOMPARE(dialog.edtPort->value(), 104);
    QCOMPARE(dialog.edtCalledAE->text(), QStringLiteral("ANY-SCP"));
    QCOMPARE(dialog.edtCallingAE->text(), QStringLiteral("RAVLEK"));
    QCOMPARE(dialog.btnTest->text(), QStringLiteral("Test connection"));
    QVERIFY(!pacs::ReadPacsSettings().enabled());
}

void TestPacsSettings::storedSettingsAreShownAndOkStoresThem() {
    Installation installation;
    WriteSetting(kXRay, QStringLiteral("PacsHost"), QStringLiteral("pacs.example"));
    WriteSetting(kXRay, QStringLiteral("PacsPort"), QStringLiteral("11112"));
    WriteSetting(kXRay, QStringLiteral("PacsCalledAE"), QStringLiteral("ARCHIVE"));
    WriteSetting(kXRay, QStringLiteral("PacsCallingAE"), QStringLiteral("ROOM2"));
    TfrmPacsSettings dialog;
    QCOMPARE(dialog.edtHost->text(), QStringLiteral("pacs.example"));
    QCOMPARE(dialog.edtPort->value(), 11112);
    QCOMPARE(dialog.edtCalledAE->text(), QStringLiteral("ARCHIVE"));
    QCOMPARE(dialog.edtCallingAE->text(), QStringLiteral("ROOM2"));

    dialog.edtHost->setText(QStringLiteral(" 127.0.0.1 "));
    dialog.edtPort->setValue(4242);
    QTest::keyClicks(dialog.edtCalledAE, QStringLiteral("X\\Y")); // the backslash is not taken
    dialog.btnOK->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(ReadSetting(kXRay, QStringLiteral("PacsHost")), QStringLiteral("127.0.0.1"));
    QCOMPARE(ReadSetting(kXRay, QStringLiteral("PacsPort")), QStringLiteral("4242"));
    QCOMPARE(ReadSetting(kXRay, QStringLiteral("PacsCalledAE")), QStringLiteral("ARCHIVEXY"));
    QCOMPARE(ReadSetting(kXRay, QStringLiteral("PacsCallingAE")), QStringLiteral("ROOM2"));
}

void TestPacsSettings::unusableSettingsAreNotStored_data() {
    QTest::addColumn<QString>("calledAE");
    QTest::addColumn<QString>("callingAE");
    QTest::addColumn<QString>("text");
    QTest::newRow("called AE title too long")
        << QStringLiteral("ABCDEFGHIJKLMNOPQ") << QStringLiteral("RAVLEK")
        << QStringLiteral(
               "Not stored: the PACS's AE title \"ABCDEFGHIJKLMNOPQ\" is longer than 16 characters.");
    QTest::newRow("calling AE title empty")
        << QStringLiteral("ORTHANC") << QStringLiteral("  ")
        << QStringLiteral("Not stored: this workstation's AE title is empty.");
    QTest::newRow("calling AE title with a backslash")
        << QStringLiteral("ORTHANC") << QStringLiteral("A\\B")
        << QStringLiteral("Not stored: this workstation's AE title \"A\\B\" may hold only printable ASCII "
                          "characters other than \\.");
}

void TestPacsSettings::unusableSettingsAreNotStored() {
    QFETCH(QString, calledAE);
    QFETCH(QString, callingAE);
    QFETCH(QString, text);
    Installation installation;
    TfrmPacsSettings dialog;
    dialog.edtHost->setText(QStringLiteral("pacs.example"));
    dialog.edtCalledAE->setText(calledAE);
    dialog.edtCallingAE->setText(callingAE);
    dialog.btnOK->click();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.lblTestResult->text(), text);
    QCOMPARE(ReadSetting(kXRay, QStringLiteral("PacsHost")), kMissingSetting);
}

void TestPacsSettings::emptyHostSwitchesThePacsOff() {
    Installation installation;
    WriteSetting(kXRay, QStringLiteral("PacsHost"), QStringLiteral("pacs.example"));
    TfrmPacsSettings dialog;
    dialog.edtHost->clear();
    dialog.edtCalledAE->clear(); // of no matter without a PACS
    dialog.btnOK->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!pacs::ReadPacsSettings().enabled());
}

void TestPacsSettings::testConnection_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("calledAE");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text"); // "<port>" stands for the PACS's port
    QTest::newRow("the PACS answers")
        << "127.0.0.1"
        << "ORTHANC" << true << "The PACS ORTHANC@127.0.0.1:<port> answered: the connection works.";
    QTest::newRow("wrong AE title")
        << "127.0.0.1"
        << "ARCHIVE" << false
        << "The PACS at 127.0.0.1:<port> refused the association: its AE title is not "
           "\"ARCHIVE\" (for good).";
    QTest::newRow("no host") << ""
                             << "ORTHANC" << false << "Cannot test: no PACS host is given.";
}

void TestPacsSettings::testConnection() {
    QFETCH(QString, host);
    QFETCH(QString, calledAE);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    if (!orthanctest::requireOrthanc())
        return;
    Installation installation;
    orthanctest::OrthancServer server(installation.env.makeFolder(QStringLiteral("pacs")));
    QCOMPARE(server.start(), QString());

    TfrmPacsSettings dialog;
    QSignalSpy finished(&dialog, &TfrmPacsSettings::TestFinished);
    dialog.edtHost->setText(host);
    dialog.edtPort->setValue(server.dicomPort());
    dialog.edtCalledAE->setText(calledAE);
    dialog.btnTest->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
    QVERIFY(dialog.btnTest->isEnabled());
    QCOMPARE(finished.first().at(0).toBool(), ok);
    text.replace(QStringLiteral("<port>"), QString::number(server.dicomPort()));
    QCOMPARE(dialog.lblTestResult->text(), text);
    // Testing stores nothing.
    QCOMPARE(ReadSetting(kXRay, QStringLiteral("PacsHost")), kMissingSetting);
}

void TestPacsSettings::settingsWindowOpensIt() {
    Installation installation;
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);
    QCOMPARE(window.btnPacs->text(), QStringLiteral("PACS..."));
    QCOMPARE(window.btnPacs->objectName(), QStringLiteral("btnPacs"));
    QVERIFY(window.rect().contains(window.btnPacs->geometry()));
    QVERIFY(!window.btnPacs->geometry().intersects(window.ReturnButton->geometry()));
    QVERIFY(!window.btnPacs->geometry().intersects(window.SoundGroup->geometry()));

    bool shown = false;
    whenModal<TfrmPacsSettings>([&](TfrmPacsSettings* dialog) {
        shown = true;
        dialog->edtHost->setText(QStringLiteral("pacs.example"));
        dialog->btnOK->click();
    });
    window.btnPacs->click();
    QVERIFY(shown);
    QCOMPARE(pacs::ReadPacsSettings().host, QStringLiteral("pacs.example"));
}

QTEST_MAIN(TestPacsSettings)
#include "tst_pacssettings.moc"
