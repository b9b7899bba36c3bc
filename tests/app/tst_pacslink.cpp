// The main window and the PACS: nothing changes without one; with one, each handed-off image is
// queued, the window shows how many wait, and settings changed in the settings window are taken up.

#include "app/MainUnit.h"
#include "app/PacsLink.h"
#include "database/XrayDatabase.h"
#include "devices/DeviceList.h"
#include "pacs/PacsOutbox.h"
#include "pacs/PacsService.h"
#include "platform/WindowBus.h"
#include "settings/ProgramDatabaseLinks.h"
#include "settings/USettings.h"
#include "sim/SimCatalogue.h"
#include "sim/SimDeviceFolder.h"
#include "sim/SimulatedDsd.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include "support/OrthancServer.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

namespace {

// The journal program: a window on the bus that notes the messages it is sent.
class TestHost {
public:
    TestHost() {
        platform::WindowDefinition definition;
        definition.className = QStringLiteral("TJournal");
        definition.title = QStringLiteral("Journal");
        definition.handler = [this](quint32 msg, qint64 wParam, qint64) {
            received.append(platform::windowBus().messageName(msg) + QLatin1Char(' ') +
                            QString::number(wParam));
            return qint64(0);
        };
        m_registration = platform::windowBus().registerWindow(definition);
    }
    QString handleArgument() const {
        return QStringLiteral("HWND=") + QString::number(m_registration->handle());
    }

    QStringList received;

private:
    std::unique_ptr<platform::WindowRegistration> m_registration;
};

SimDeviceFolder simDevice(int type) {
    const SimCatalogue catalogue;
    return SimDeviceFolder(catalogue.deviceFolder(*catalogue.find(QString::number(type))));
}

// A loopback port nothing listens on: a PACS that is down.
int closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void setPacs(const QString& host, int port, const QString& calledAE = QStringLiteral("ORTHANC")) {
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("PacsHost"), host);
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("PacsPort"), QString::number(port));
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("PacsCalledAE"), calledAE);
}

QString tagOf(const QString& dicomFile, const DcmTagKey& tag) {
    DcmFileFormat file;
    file.loadFile(QFile::encodeName(dicomFile).constData());
    OFString value;
    file.getDataset()->findAndGetOFStringArray(tag, value);
    return QString::fromUtf8(value.c_str());
}

// Presses "Return" in the settings window as soon as it shows.
void returnFromSettingsWhenShown() {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll] {
        auto* settings = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget());
        if (settings && settings->isVisible()) {
            poll->deleteLater();
            settings->ReturnButton->click();
        }
    });
    poll->start(10);
}

} // namespace

class TestPacsLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { RegisterSimulatedDriver(); }
    void init();
    void cleanup();

    void withoutPacsNothingChanges();
    void handedOffImagesWaitAndAreCounted();
    void settingsWindowChangesAreTakenUp();

private:
    std::unique_ptr<TRavlekMainForm> startForm(qint32 patient);
    QString outDir() const { return m_env->path(QStringLiteral("xray")) + QLatin1Char('/'); }
    void capture(TRavlekMainForm& form, int count);

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<TestHost> m_host;
    std::unique_ptr<TXrayDatabase> m_database;
};

void TestPacsLink::init() {
    m_env = std::make_unique<TestEnvironment>();
    m_env->makeFolder(QStringLiteral("xray"));
    m_dialogs = std::make_unique<ScriptedDialogs>();
    m_host = std::make_unique<TestHost>();
    InitApplicationEnvironment({QStringLiteral("ravlek")});
    m_database = std::make_unique<TXrayDatabase>(Environment(), ProgramDatabaseLinks());
    WriteSetting(QStringLiteral("DigoraDevices"), QStringLiteral("8"), QStringLiteral("Digora Toto"));
    WriteSetting(QStringLiteral("DigoraDevices"), QStringLiteral("ConnectTo"), u"¤8¤"_qs);
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("TotoOneShot"), QStringLiteral("0"));
    simDevice(8).updateConfig([](SimDeviceConfig& config) { config.stageMs = 0; });
}

void TestPacsLink::cleanup() {
    m_database.reset();
    m_host.reset();
    m_dialogs.reset();
    m_env.reset();
}

std::unique_ptr<TRavlekMainForm> TestPacsLink::startForm(qint32 patient) {
    auto form = std::make_unique<TRavlekMainForm>(
        m_database.get(), QStringList{QStringLiteral("ravlek"), QStringLiteral("PNR=%1").arg(patient),
                                      m_host->handleArgument(), QStringLiteral("OUTDIR=") + outDir()});
    form->CreateSettingsWindow();
    form->show();
    form->activateWindow();
    if (!QTest::qWaitForWindowActive(form.get()))
        qWarning("the main window was not activated");
    return form;
}

void TestPacsLink::capture(TRavlekMainForm& form, int count) {
    const int before = int(m_host->received.size());
    for (int i = 0; i < count; ++i) {
        QVERIFY(form.Devices()->ScannerConnected());
        QVERIFY(simDevice(8).requestExposure());
        QTRY_COMPARE(m_host->received.size(), before + i + 1);
        form.ScanImage(); // armed anew, as a user does for the next plate
    }
}

void TestPacsLink::withoutPacsNothingChanges() {
    const auto form = startForm(123);
    QVERIFY(!form->lblPacsQueue->isVisible());
    capture(*form, 1);
    QCOMPARE(m_host->received, QStringList{QStringLiteral("XRAY_NEW_IMAGE 123")});
    QVERIFY(!form->lblPacsQueue->isVisible());
    QVERIFY(!QFileInfo::exists(pacs::PacsOutbox::DefaultFolder()));
}

void TestPacsLink::handedOffImagesWaitAndAreCounted() {
    if (!orthanctest::requireOrthanc())
        return;
    orthanctest::OrthancServer server(m_env->makeFolder(QStringLiteral("pacs")));
    QCOMPARE(server.start(), QString());
    server.stop();
    setPacs(QStringLiteral("127.0.0.1"), server.dicomPort());

    std::unique_ptr<TRavlekMainForm> form = startForm(123);
    QVERIFY(form->lblPacsQueue->isVisible());
    QCOMPARE(form->lblPacsQueue->text(), QStringLiteral("PACS: all images sent"));
    capture(*form, 2);
    QTRY_COMPARE(form->lblPacsQueue->text(), QStringLiteral("PACS: 2 images waiting"));
    QTRY_VERIFY(form->lblPacsQueue->toolTip().contains(QStringLiteral("cannot be reached")));

    const QList<pacs::OutboxEntry> entries = pacs::PacsOutbox().Entries();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(0).sourceFile, outDir() + QStringLiteral("123/Rtg123_1.bmp"));
    QCOMPARE(entries.at(1).sourceFile, outDir() + QStringLiteral("123/Rtg123_2.bmp"));
    const QString first = entries.at(0).objectFile();
    const QString second = entries.at(1).objectFile();
    QCOMPARE(tagOf(first, DCM_PatientID), QStringLiteral("123"));
    QCOMPARE(tagOf(first, DCM_Modality), QStringLiteral("PX"));
    QCOMPARE(tagOf(first, DCM_Manufacturer), QStringLiteral("Digora Toto"));
    QCOMPARE(tagOf(first, DCM_ManufacturerModelName), QStringLiteral("Digora Toto"));
    QCOMPARE(tagOf(first, DCM_StationName), QStringLiteral("TESTPC"));
    QCOMPARE(tagOf(first, DCM_SoftwareVersions), QStringLiteral("810"));
    // 0.087 mm gives 292 dots per inch, the resolution the information file tells too.
    QCOMPARE(tagOf(first, DCM_ImagerPixelSpacing), QStringLiteral("0.08698630137\\0.08698630137"));
    // One study for the run, one series for the device, numbered images.
    const QString firstStudy = tagOf(first, DCM_StudyInstanceUID);
    QCOMPARE(tagOf(second, DCM_StudyInstanceUID), firstStudy);
    QCOMPARE(tagOf(second, DCM_SeriesInstanceUID), tagOf(first, DCM_SeriesInstanceUID));
    QVERIFY(tagOf(second, DCM_SOPInstanceUID) != tagOf(first, DCM_SOPInstanceUID));
    QCOMPARE(tagOf(first, DCM_InstanceNumber), QStringLiteral("1"));
    QCOMPARE(tagOf(second, DCM_InstanceNumber), QStringLiteral("2"));
    QString report;
    QVERIFY2(orthanctest::dciodvfyErrors(first, &report).isEmpty(), qPrintable(report));

    QCOMPARE(server.start(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(form->lblPacsQueue->text(), QStringLiteral("PACS: all images sent"), 60000);
    QCOMPARE(form->lblPacsQueue->toolTip(), QString());
    QCOMPARE(server.instanceCount(), 2);

    // A new run for the same patient is a study of its own.
    form.reset();
    form = startForm(123);
    capture(*form, 1);
    QTRY_COMPARE_WITH_TIMEOUT(server.instanceCount(), 3, 60000);
    QSet<QString> studies;
    for (const QJsonObject& tags : server.instanceTags())
        studies.insert(tags.value(QStringLiteral("StudyInstanceUID")).toString());
    QCOMPARE(studies.size(), 2);
    QVERIFY(studies.contains(firstStudy));
}

void TestPacsLink::settingsWindowChangesAreTakenUp() {
    const auto form = startForm(5);
    QVERIFY(!form->lblPacsQueue->isVisible());
    setPacs(QStringLiteral("127.0.0.1"), closedPort());
    returnFromSettingsWhenShown();
    form->HelpButton->click();
    QVERIFY(form->lblPacsQueue->isVisible());
    QCOMPARE(form->Pacs()->Service().Settings().host, QStringLiteral("127.0.0.1"));
    capture(*form, 1);
    QTRY_COMPARE(form->lblPacsQueue->text(), QStringLiteral("PACS: 1 image waiting"));

    // Switched off again: the waiting image stays, and is said to wait for a PACS not set.
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("PacsHost"), QStringLiteral(" "));
    returnFromSettingsWhenShown();
    form->HelpButton->click();
    QVERIFY(form->lblPacsQueue->isVisible());
    QCOMPARE(form->lblPacsQueue->text(), QStringLiteral("PACS: 1 image waiting (no PACS set)"));
    capture(*form, 1);
    QCOMPARE(pacs::PacsOutbox().Count(), 1);
}

QTEST_MAIN(TestPacsLink)
#include "tst_pacslink.moc"
